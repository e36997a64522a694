#include "app/application.h"

#include <QMessageBox>
#include <QWidget>

#include <exception>

namespace qtr290 {

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    // The window's handlers catch their own errors; this is the net under everything else.
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowUncaughtError(QString::fromUtf8(error.what()));
    } catch (...) {
        ShowUncaughtError(QStringLiteral("Unknown error"));
    }
    return false;
}

void TApplication::ShowUncaughtError(const QString& message)
{
    QWidget* parent = QApplication::activeWindow();
    // The message may quote a file name or a device's text: plain text.
    QMessageBox box(QMessageBox::Critical, parent ? parent->windowTitle() : applicationName(),
                    message, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace qtr290
