// Not a test: the documentation's screenshot (scripts/screenshot.sh). Runs the main window
// as the program does, over a program directory whose nastaveni.ini names the port, plays
// the operator's part (START, a FRAM write, a read of a silent station) while the traffic
// runs, and saves the window. With "ports" it opens the port list at the end (as a short
// drop-down) and saves the screen around the window and the list (an X display is needed
// for that).
// Usage: qtr290-windowshot PROGRAM_DIR OUTPUT.png [SECONDS [ports]]
#include "app/application.h"
#include "console/main.h"
#include "tests/support/window_controls.h"
#include "widgets/radiogroup.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>

using namespace qtr290;

int main(int argc, char** argv)
{
    TApplication application(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: qtr290-windowshot PROGRAM_DIR OUTPUT.png [SECONDS [ports]]\n");
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[2]);
    const double seconds = argc > 3 ? QString::fromLocal8Bit(argv[3]).toDouble() : 4.0;
    const int total = std::max(2000, int(seconds * 1000));
    const bool ports = argc > 4 && QString::fromLocal8Bit(argv[4]) == QStringLiteral("ports");

    TForm1Options options;
    options.programDir = QString::fromLocal8Bit(argv[1]);
    TForm1 form(options);
    form.show();

    // The operator's part, by the window's own buttons.
    QTimer::singleShot(total * 55 / 100, &form,
                       [&] { test::control<QPushButton>(form, "Btn_TestKomunikace")->click(); });
    QTimer::singleShot(total * 75 / 100, &form, [&] {
        test::control<TRadioGroup>(form, "Rgp_Zarizeni")->Item(1)->click();
        test::control<TRadioGroup>(form, "Rgp_druhTLG")->Item(1)->click();
        test::control<QComboBox>(form, "Cmb_Data")->setEditText(QStringLiteral("12 34"));
        test::control<QPushButton>(form, "Btn_PosliTLG")->click();
    });
    // A read of station 05, which is silent: it stays pending and goes out at every poll, as
    // the overview's queue list shows.
    QTimer::singleShot(total * 80 / 100, &form, [&] {
        test::control<TRadioGroup>(form, "Rgp_druhTLG")->Item(0)->click();
        test::control<QLineEdit>(form, "Edt_To")->setText(QStringLiteral("05"));
        test::control<QPushButton>(form, "Btn_PosliTLG")->click();
    });

    int status = 0;
    const auto save = [&](const QPixmap& picture) {
        if (!picture.save(output)) {
            std::fprintf(stderr, "qtr290-windowshot: cannot write %s\n", argv[2]);
            status = 1;
        }
        form.close();
    };
    if (ports) {
        QTimer::singleShot(total, &form, [&] {
            // A drop-down of eight items instead of the style's full-height list, so that
            // the status bar stays in view.
            test::control<QComboBox>(form, "Cmb_ComPort")->setMaxVisibleItems(8);
            test::control<QComboBox>(form, "Cmb_ComPort")
                ->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
            test::control<QComboBox>(form, "Cmb_ComPort")->showPopup();
        });
        QTimer::singleShot(total + 500, &form, [&] {
            const QRect area = form.frameGeometry().united(
                test::control<QComboBox>(form, "Cmb_ComPort")->view()->window()->frameGeometry());
            save(form.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()));
        });
        const int loop = application.exec();
        return status != 0 ? status : loop;
    }
    QTimer::singleShot(total, &form, [&] {
        // The window's widgets painted as they stand, without depending on the X server.
        if (!form.grab().save(output)) {
            std::fprintf(stderr, "qtr290-windowshot: cannot write %s\n", argv[2]);
            status = 1;
        }
        form.close();
    });
    const int loop = application.exec();
    return status != 0 ? status : loop;
}
