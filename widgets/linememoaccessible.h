// What a screen reader learns of a memo: a read-only multi-line text, its lines joined by '\n'
// exactly as LineMemo::Text() gives them, with its selection, caret and character geometry.
// Installed once, when the first memo is made; the memo tells of its changes only while an
// assistive technology listens.
#pragma once

#include <QAccessibleWidget>

namespace qtr290 {

class LineMemo;

class LineMemoAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
public:
    explicit LineMemoAccessible(LineMemo* memo);

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::State state() const override;
    QString text(QAccessible::Text type) const override;

    void selection(int selectionIndex, int* startOffset, int* endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint& point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int* startOffset, int* endOffset) const override;

private:
    LineMemo* Memo() const;
};

// Makes QAccessible::queryAccessibleInterface answer for every LineMemo; safe to call again.
void InstallLineMemoAccessibility();

// Where the memos' change events go: to the toolkit's accessibility while an assistive
// technology listens (QAccessible::isActive()), else nowhere, at no cost. A test sets a listener
// of its own, which stands for a listening reader (the toolkit offers no public way to make
// itself active); nullptr gives the toolkit back.
using ReaderListener = void (*)(QAccessibleEvent* event);
void SetReaderListener(ReaderListener listener);
bool ReaderListens();
void TellReader(QAccessibleEvent* event);

} // namespace qtr290
