// A pseudo-terminal made by the test: the slave stands in for a serial device (its path goes
// to the code under test), the master for the far end of the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <termios.h>

namespace qtr290::test {

class Pty {
public:
    using Bytes = std::vector<std::uint8_t>;

    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool valid() const { return FMaster >= 0; }
    const std::string& path() const { return FPath; }
    int master() const { return FMaster; }
    int slave() const { return FSlave; }
    // "[Porty]" naming this device as COM1, for a settings file.
    std::string Settings() const { return "[Porty]\r\nCOM1=" + FPath + "\r\n"; }

    // The far end hangs up.
    void closeMaster();

    // Writes all the bytes from the far end; false when they did not all go.
    [[nodiscard]] bool send(const Bytes& bytes) const;
    // Whatever the device side has written so far, without waiting.
    Bytes receive() const;
    // Waits (about 2 s at most) until count bytes have come from the device side.
    Bytes receive(std::size_t count) const;
    // Waits until the device's input queue holds count bytes (pty transfer is asynchronous);
    // false on a time-out or when more arrived.
    bool waitQueued(int count) const;

    termios settings() const;
    int exclusive() const; // TIOCGEXCL of the device

private:
    int FMaster = -1;
    int FSlave = -1;
    std::string FPath;
};

} // namespace qtr290::test
