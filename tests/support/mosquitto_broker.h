// A real MQTT broker for tests: Debian's mosquitto on a free loopback port, with a
// configuration made for the test (anonymous, or a password file and TLS with certificates
// the fixture makes with openssl). Stopped and started again on the same port at will.
#pragma once

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <memory>
#include <string>
#include <vector>

namespace qtr290::test {

class MosquittoBroker {
public:
    struct Options {
        bool secured = false; // a password file (user "rig", password Password()) and TLS only
        std::vector<std::string> users; // more users in the password file (Password() each)
        std::string acl;                // an ACL file's text, if any
    };
    static constexpr char User[] = "rig";

    explicit MosquittoBroker(Options options);
    MosquittoBroker() : MosquittoBroker(Options{}) {}
    ~MosquittoBroker();

    // Starts it (again, on the same port); false with Error() when it did not listen.
    bool Start();
    void Stop();
    bool Running() const { return FProcess != nullptr; }
    long Pid() const { return FProcess ? FProcess->Pid() : -1; } // for CPU figures

    int Port() const { return FPort; }
    std::string Url() const; // mqtt://127.0.0.1:PORT, mqtts://localhost:PORT when secured
    std::string Password() const { return "s3cret pass"; }
    std::string CaFile() const { return FDir / "ca.crt"; }
    const std::string& Error() const { return FError; }
    const TempDir& Dir() const { return FDir; }

private:
    bool MakeCertificates();
    bool WriteConfiguration();

    Options FOptions;
    TempDir FDir;
    int FPort = 0;
    std::unique_ptr<ChildProcess> FProcess;
    std::string FError;
    bool FConfigured = false;
};

// Where the broker's programs are (Debian: /usr/sbin/mosquitto, /usr/bin/mosquitto_passwd).
std::string MosquittoProgram();

} // namespace qtr290::test
