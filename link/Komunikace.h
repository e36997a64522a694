// The device link: owns the serial port, queues request telegrams, answers polls with
// the oldest pending one and drops it when the next intact non-poll telegram passes.
#pragma once

#include "link/framer.h"
#include "link/telegram.h"
#include "serial/SerialDrv.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qtr290 {

// What the link does, reported as it happens, for whoever keeps figures or a picture of the
// queue. Reports come on the link's thread and change nothing the link does.
class LinkObserver {
public:
    // Why the oldest pending telegram left the queue.
    enum class Removal {
        Reply,    // an intact non-poll telegram passed (the poll reaction)
        OnceOnly, // a station whose telegrams go out once: removed as it was sent
        Cleared,  // VymazFrontu, once per telegram, oldest first
    };

    virtual ~LinkObserver() = default;
    // Each intact telegram the framer cuts out, before the display and the poll reaction.
    virtual void Received(ByteSpan, bool /*isPoll*/) {}
    virtual void Damaged(FramerError) {}
    virtual void Queued(ByteSpan) {}
    // The telegram put on the line (without the lead byte): the oldest pending one.
    virtual void Sent(ByteSpan, bool /*answeringPoll*/) {}
    virtual void Removed(Removal) {}
};

class TKomunikace {
public:
    static constexpr int StagingSize = 257; // positions 0 to 256, 0 unused
    static constexpr int MaxStagedPosition = 256;
    static constexpr std::size_t TransmitBufferSize = 270;

    explicit TKomunikace(std::unique_ptr<SerialPlatform> platform = MakeSystemPlatform());
    virtual ~TKomunikace();
    TKomunikace(const TKomunikace&) = delete;
    TKomunikace& operator=(const TKomunikace&) = delete;

    void NastavVychozi();
    void NastavPort(std::uint8_t portNumber);
    bool Otevri(int baudRate);
    void Zavri();
    void NastavDTR(bool level);
    void NastavPrijem(TSerialPortDriver::TReceiveDataEvent handler);

    // Positions 1 to 256; anything else is refused (false) and changes nothing.
    bool ZapisDataByte(int position, std::uint8_t value);
    // The request ZaradTLG queues for these inputs: a read, or a write of Count bytes taken
    // from `staging` (position 1 on) where it reaches and from what is staged beyond it.
    // Empty for a write whose Count exceeds MaxWriteCount.
    std::vector<std::uint8_t> BuildRequest(const RequestTarget& target, bool write,
                                           std::uint8_t count, ByteSpan staging = {}) const;
    // Builds a read or write request and queues it. False (nothing queued) for a write
    // whose Count exceeds MaxWriteCount.
    bool ZaradTLG(std::uint8_t from, std::uint8_t to, bool write, std::uint8_t areaCode,
                  std::uint32_t address, std::uint8_t count);
    void PosliCekajici();
    // The poll reaction's removal of the oldest pending telegram (reported as a reply).
    void OdeberCekajici();
    void VymazFrontu();

    std::uint8_t DelkaPosledni() const { return FDelkaPosledni; }
    // The bytes of the last transmission: 0xFF and the telegram, DelkaPosledni + 1 bytes.
    ByteSpan PosledniTLG() const;
    std::size_t PendingCount() const;                // pending telegrams in the queue
    std::vector<std::uint8_t> OldestPending() const; // the oldest pending telegram; empty if none

    // Poll reaction for one intact telegram: a poll transmits the oldest pending
    // telegram, anything else drops it. True when something was transmitted.
    bool ReagujNaTelegram(ByteSpan telegram);

    struct ReceiveHandlers {
        std::function<void(ByteSpan telegram)> show; // display decision, before the reaction
        std::function<void(std::string_view line)>
            message;                              // "Vadne CRC hlavicky" / "Vadne CRC dat"
        std::function<void(ByteSpan bytes)> sent; // 0xFF + telegram, after a poll answer
    };
    // Runs the framer over the receive accumulator: each intact telegram goes to the
    // display, then to the poll reaction; damaged ones produce a message line.
    void ZpracujPrijem(std::vector<std::uint8_t>& accumulator, const ReceiveHandlers& handlers);

    static std::uint8_t KontrolniSoucet(ByteSpan bytes) { return qtr290::KontrolniSoucet(bytes); }
    static std::uint8_t CRC8(ByteSpan bytes, std::uint8_t initial = 0)
    {
        return qtr290::CRC8(bytes, initial);
    }

    TSerialPortDriver& SeriovyPort() { return *FSeriovyPort; }
    bool RizeniDTR() const { return FRizeniDTR; }

    // Not owned; must stay until removed or until the link goes.
    void AddObserver(LinkObserver* observer);
    void RemoveObserver(LinkObserver* observer);

private:
    void WaitMoreThan(std::uint32_t ms);
    void Transmit(bool atPoll);
    void RemoveOldest(LinkObserver::Removal why);
    template <class Report> void Notify(const Report& report)
    {
        for (LinkObserver* observer : FObservers)
            report(*observer);
    }

    std::unique_ptr<TSerialPortDriver> FSeriovyPort;
    std::deque<int> Fronta;
    std::array<std::uint8_t, TransmitBufferSize> VysilaciBuffer{};
    std::array<std::uint8_t, StagingSize> DataZapisu{};
    std::uint8_t FDelkaPosledni = 0;
    bool FRizeniDTR = false;
    std::vector<LinkObserver*> FObservers;
};

} // namespace qtr290
