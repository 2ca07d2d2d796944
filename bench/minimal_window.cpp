// The baseline of startup_bench: the least a Qt Widgets program does to
// reach the camera. One window of ternab's size, with --text one line of
// text in it (the connection state, as a tool shows it); the serial device
// named on the command line is opened and made raw at 9600 baud, the window
// is shown, and once the event loop runs ENQ is written and "ready" goes to
// stdout (as a tool whose window is up before it talks to the camera).
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <string_view>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool text = argc > 2 && std::string_view(argv[1]) == "--text";
    const char* device = argv[argc - 1];
    if (argc < 2) {
        std::fprintf(stderr, "usage: minimal_window [--text] DEVICE\n");
        return 2;
    }
    QWidget window;
    window.resize(702, 530);
    if (text) (new QLabel("Comm. Connecting", &window))->move(8, 8);
    const int fd = ::open(device, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        std::perror(device);
        return 1;
    }
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
    window.show();
    QTimer::singleShot(0, [fd] {
        const unsigned char enq = 0x05;
        if (::write(fd, &enq, 1) != 1) std::perror("ENQ");
        std::puts("ready");
        std::fflush(stdout);
    });
    const int rc = app.exec();
    ::close(fd);
    return rc;
}
