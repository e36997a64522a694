// Saves what an X display shows, cut to the part that differs from the background (the
// bottom-right pixel, which no window covers): the screenshot of the utility for the documentation.
// Usage: DISPLAY=:N qtr290-screengrab OUTPUT.png
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>

#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qtr290-screengrab OUTPUT.png\n");
        return 2;
    }
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    if (screen.isNull()) {
        std::fprintf(stderr, "qtr290-screengrab: nothing to grab\n");
        return 1;
    }
    const QRgb background = screen.pixel(screen.width() - 1, screen.height() - 1);
    int left = screen.width(), top = screen.height(), right = -1, bottom = -1;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (screen.pixel(x, y) != background) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0) {
        std::fprintf(stderr, "qtr290-screengrab: the screen is empty\n");
        return 1;
    }
    const QImage shot = screen.copy(left, top, right - left + 1, bottom - top + 1);
    if (!shot.save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "qtr290-screengrab: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
