// A captioned group of exclusive radio buttons with an item index: changing the selection,
// by the operator or by the program, raises Click.
#pragma once

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QRadioButton;

namespace qtr290 {

class TRadioGroup : public QGroupBox {
    Q_OBJECT
public:
    // Items are filled column by column, top to bottom.
    TRadioGroup(const QString& caption, const QStringList& items, int columns = 1,
                QWidget* parent = nullptr);

    int ItemIndex() const; // -1 when nothing is selected
    void SetItemIndex(int index);
    int Count() const;
    QRadioButton* Item(int index) const;

signals:
    void Click();

private:
    QButtonGroup* FButtons;
};

} // namespace qtr290
