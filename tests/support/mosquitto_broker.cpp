#include "tests/support/mosquitto_broker.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qtr290::test {

namespace {

// A port nobody listens on now: bound and released, for the broker to bind next.
int FreeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool Accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// Runs a program to its end, its output discarded; true when it exits with 0.
bool RunQuietly(const std::string& program, const std::vector<std::string>& args)
{
    ChildProcess child(program, args);
    const auto status = child.Wait(std::chrono::seconds(30));
    return status && *status == 0;
}

std::string Which(const std::vector<std::string>& candidates)
{
    for (const auto& path : candidates)
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    return candidates.front();
}

} // namespace

std::string MosquittoProgram()
{
    return Which({"/usr/sbin/mosquitto", "/usr/bin/mosquitto"});
}

MosquittoBroker::MosquittoBroker(Options options) : FOptions(options) {}

MosquittoBroker::~MosquittoBroker()
{
    Stop();
}

std::string MosquittoBroker::Url() const
{
    return FOptions.secured ? "mqtts://localhost:" + std::to_string(FPort)
                            : "mqtt://127.0.0.1:" + std::to_string(FPort);
}

bool MosquittoBroker::MakeCertificates()
{
    const std::string openssl = Which({"/usr/bin/openssl"});
    const std::string ec = "ec", curve = "ec_paramgen_curve:prime256v1";
    // A CA of the test's own, and the broker's certificate for localhost signed by it.
    std::ofstream(FDir / "san.ext") << "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
    return RunQuietly(openssl, {"req", "-x509", "-newkey", ec, "-pkeyopt", curve, "-nodes",
                                "-keyout", FDir / "ca.key", "-out", FDir / "ca.crt", "-days", "2",
                                "-subj", "/CN=qtr290 test CA"}) &&
           RunQuietly(openssl, {"req", "-newkey", ec, "-pkeyopt", curve, "-nodes", "-keyout",
                                FDir / "server.key", "-out", FDir / "server.csr", "-subj",
                                "/CN=localhost"}) &&
           RunQuietly(openssl, {"x509", "-req", "-in", FDir / "server.csr", "-CA", FDir / "ca.crt",
                                "-CAkey", FDir / "ca.key", "-CAcreateserial", "-out",
                                FDir / "server.crt", "-days", "2", "-extfile", FDir / "san.ext"});
}

bool MosquittoBroker::WriteConfiguration()
{
    FPort = FreeLoopbackPort();
    if (FPort == 0) {
        FError = "no free loopback port";
        return false;
    }
    std::ofstream conf(FDir / "mosquitto.conf");
    // As a plant's broker for telegrams is set up: no Nagle delay towards subscribers, no
    // limit on what is queued for a subscriber that lags behind.
    conf << "per_listener_settings false\npersistence false\nlog_dest stderr\n"
         << "set_tcp_nodelay true\nmax_queued_messages 0\n"
         << "log_type error\nlog_type warning\n"
         << "listener " << FPort << " 127.0.0.1\n";
    // Started by root, mosquitto would become the user "mosquitto", who cannot read the
    // test's private folder: it stays who the test is.
    if (const passwd* user = ::getpwuid(::geteuid()))
        conf << "user " << user->pw_name << '\n';
    std::vector<std::string> users = FOptions.users;
    if (FOptions.secured)
        users.push_back(User);
    if (users.empty()) {
        conf << "allow_anonymous true\n";
        return static_cast<bool>(conf);
    }
    const std::string passwd = Which({"/usr/bin/mosquitto_passwd", "/usr/sbin/mosquitto_passwd"});
    for (std::size_t i = 0; i < users.size(); ++i) {
        std::vector<std::string> args{"-b", FDir / "passwords", users[i], Password()};
        if (i == 0)
            args.insert(args.begin(), "-c");
        if (!RunQuietly(passwd, args)) {
            FError = "mosquitto_passwd failed";
            return false;
        }
    }
    conf << "allow_anonymous false\npassword_file " << (FDir / "passwords") << '\n';
    if (!FOptions.acl.empty()) {
        std::ofstream(FDir / "acl") << FOptions.acl;
        conf << "acl_file " << (FDir / "acl") << '\n';
    }
    if (!FOptions.secured)
        return static_cast<bool>(conf);
    if (!MakeCertificates()) {
        FError = "openssl could not make the test certificates";
        return false;
    }
    conf << "cafile " << (FDir / "ca.crt") << "\ncertfile " << (FDir / "server.crt") << "\nkeyfile "
         << (FDir / "server.key") << '\n';
    return static_cast<bool>(conf);
}

bool MosquittoBroker::Start()
{
    Stop();
    if (!FConfigured && !(FConfigured = WriteConfiguration()))
        return false;
    FProcess = std::make_unique<ChildProcess>(
        MosquittoProgram(), std::vector<std::string>{"-c", FDir / "mosquitto.conf"});
    for (int waited = 0; waited < 10000; waited += 20) {
        if (Accepts(FPort))
            return true;
        if (FProcess->Wait(std::chrono::milliseconds(20))) {
            FError = "mosquitto ended: " + FProcess->Errors();
            FProcess.reset();
            return false;
        }
    }
    FError = "mosquitto did not listen on port " + std::to_string(FPort);
    return false;
}

void MosquittoBroker::Stop()
{
    if (!FProcess)
        return;
    FProcess->Signal(SIGTERM);
    if (!FProcess->Wait(std::chrono::seconds(5)))
        FProcess->Signal(SIGKILL);
    FProcess->Wait(std::chrono::seconds(5));
    FProcess.reset();
}

} // namespace qtr290::test
