#include "termination.h"

#include <QApplication>
#include <QDialog>

namespace qtr290 {

void TerminationRequests::CloseDialogs()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget); dialog && dialog->isVisible())
            dialog->reject();
    }
}

} // namespace qtr290
