#include "widgets/linememoaccessible.h"

#include "widgets/linememo.h"

#include <QScrollBar>

#include <algorithm>

namespace qtr290 {

namespace {

QAccessibleInterface* LineMemoFactory(const QString& className, QObject* object)
{
    // Asked once per class of the object's ancestry: answer for the memo's own class only.
    if (className != QLatin1String(LineMemo::staticMetaObject.className()))
        return nullptr;
    auto* memo = qobject_cast<LineMemo*>(object);
    return memo ? new LineMemoAccessible(memo) : nullptr;
}

} // namespace

void InstallLineMemoAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&LineMemoFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

namespace {
ReaderListener TestListener = nullptr;
} // namespace

void SetReaderListener(ReaderListener listener)
{
    TestListener = listener;
}

bool ReaderListens()
{
    return TestListener || QAccessible::isActive();
}

void TellReader(QAccessibleEvent* event)
{
    if (TestListener)
        TestListener(event);
    else
        QAccessible::updateAccessibility(event);
}

LineMemoAccessible::LineMemoAccessible(LineMemo* memo)
    : QAccessibleWidget(memo, QAccessible::EditableText)
{
}

LineMemo* LineMemoAccessible::Memo() const
{
    return static_cast<LineMemo*>(widget());
}

void* LineMemoAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::State LineMemoAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    state.multiLine = true;
    state.focusable = true;
    state.selectableText = true;
    state.editable = false;
    return state;
}

QString LineMemoAccessible::text(QAccessible::Text type) const
{
    // The whole text as the value, as the toolkit's own text views give it.
    if (type == QAccessible::Value)
        return Memo()->Text();
    return QAccessibleWidget::text(type);
}

void LineMemoAccessible::selection(int selectionIndex, int* startOffset, int* endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex != 0 || !Memo()->HasSelection())
        return;
    std::tie(*startOffset, *endOffset) = Memo()->SelectionOffsets();
}

int LineMemoAccessible::selectionCount() const
{
    return Memo()->HasSelection() ? 1 : 0;
}

void LineMemoAccessible::addSelection(int startOffset, int endOffset)
{
    // One selection at most: a new one takes the place of the old.
    setSelection(0, startOffset, endOffset);
}

void LineMemoAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex != 0)
        return;
    const int caret = Memo()->CaretOffset();
    Memo()->SetSelectionOffsets(caret, caret);
}

void LineMemoAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex != 0)
        return;
    Memo()->SetSelectionOffsets(startOffset, endOffset);
}

int LineMemoAccessible::cursorPosition() const
{
    return Memo()->CaretOffset();
}

void LineMemoAccessible::setCursorPosition(int position)
{
    Memo()->SetSelectionOffsets(position, position);
}

QString LineMemoAccessible::text(int startOffset, int endOffset) const
{
    const QString all = Memo()->Text();
    startOffset = std::clamp(startOffset, 0, int(all.size()));
    // -1 stands for the end.
    if (endOffset < 0 || endOffset > all.size())
        endOffset = int(all.size());
    if (endOffset <= startOffset)
        return {};
    return all.mid(startOffset, endOffset - startOffset);
}

int LineMemoAccessible::characterCount() const
{
    return Memo()->CharacterCount();
}

QRect LineMemoAccessible::characterRect(int offset) const
{
    const QRectF cell = Memo()->CharacterRect(offset);
    if (cell.isEmpty())
        return {};
    QWidget* viewport = Memo()->viewport();
    return QRect(viewport->mapToGlobal(cell.topLeft().toPoint()), cell.size().toSize());
}

int LineMemoAccessible::offsetAtPoint(const QPoint& point) const
{
    QWidget* viewport = Memo()->viewport();
    const QPoint local = viewport->mapFromGlobal(point);
    if (!viewport->rect().contains(local))
        return -1;
    return Memo()->OffsetAt(local);
}

void LineMemoAccessible::scrollToSubstring(int startIndex, int endIndex)
{
    Memo()->ScrollToOffset(endIndex);
    Memo()->ScrollToOffset(startIndex);
}

QString LineMemoAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    // One run without attributes of its own: the memo's text is plain.
    Q_UNUSED(offset);
    *startOffset = 0;
    *endOffset = characterCount();
    return {};
}

} // namespace qtr290
