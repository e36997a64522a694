#include "link/Komunikace.h"

#include <algorithm>
#include <cstdio>

namespace qtr290 {

TKomunikace::TKomunikace(std::unique_ptr<SerialPlatform> platform)
    : FSeriovyPort(std::make_unique<TSerialPortDriver>(std::move(platform)))
{
}

TKomunikace::~TKomunikace()
{
    Fronta.clear();
    FSeriovyPort->Disconnect();
}

void TKomunikace::NastavVychozi()
{
    VymazFrontu();
    if (FSeriovyPort->Connected())
        FSeriovyPort->Disconnect();

    auto& port = *FSeriovyPort;
    port.SetBaudRate(brCustom);
    port.SetBaudRateValue(4800);
    port.SetCheckLineStatus(false);
    port.SetDataBits(db8BITS);
    port.SetEnableDTROnOpen(false);
    port.SetHwFlow(hfNONERTSON);
    port.SetInBufSize(2048);
    port.SetInputTimeout(200);
    port.SetOutBufSize(2048);
    port.SetOutputTimeout(500);
    port.SetPacketMode(pmDiscard);
    port.SetPacketSize(-1);
    port.SetPacketTimeout(-1);
    port.SetParity(ptNONE);
    port.SetPollingDelay(40);
    port.SetPort(pnCustom);
    port.SetPortName("\\\\.\\COM2");
    port.SetStopBits(sb1BITS);
    port.SetSwFlow(sfNONE);

    FRizeniDTR = true;
}

void TKomunikace::NastavPort(std::uint8_t portNumber)
{
    if (portNumber >= 1 && portNumber <= 25) {
        FSeriovyPort->SetPort(static_cast<TPortNumber>(portNumber));
        return;
    }
    char name[16];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", int{portNumber});
    FSeriovyPort->SetPortName(name);
}

bool TKomunikace::Otevri(int baudRate)
{
    FSeriovyPort->SetBaudRateValue(static_cast<std::uint32_t>(baudRate));
    return FSeriovyPort->Connect();
}

void TKomunikace::Zavri()
{
    FSeriovyPort->Disconnect();
}

void TKomunikace::NastavDTR(bool level)
{
    FSeriovyPort->SetDTR(level);
}

void TKomunikace::NastavPrijem(TSerialPortDriver::TReceiveDataEvent handler)
{
    FSeriovyPort->SetOnReceiveData(std::move(handler));
}

bool TKomunikace::ZapisDataByte(int position, std::uint8_t value)
{
    if (position < 1 || position > MaxStagedPosition)
        return false;
    DataZapisu[static_cast<std::size_t>(position)] = value;
    return true;
}

std::vector<std::uint8_t> TKomunikace::BuildRequest(const RequestTarget& target, bool write,
                                                    std::uint8_t count, ByteSpan staging) const
{
    if (!write)
        return BuildReadRequest(target, count);
    if (count > MaxWriteCount)
        return {};
    std::vector<std::uint8_t> data(DataZapisu.begin() + 1, DataZapisu.begin() + 1 + count);
    std::copy_n(staging.begin(), std::min(staging.size(), data.size()), data.begin());
    return BuildWriteRequest(target, data);
}

bool TKomunikace::ZaradTLG(std::uint8_t from, std::uint8_t to, bool write, std::uint8_t areaCode,
                           std::uint32_t address, std::uint8_t count)
{
    const std::vector<std::uint8_t> telegram =
        BuildRequest({from, to, areaCode, address}, write, count);
    if (telegram.empty())
        return false;
    Fronta.push_back(static_cast<int>(telegram.size()));
    Fronta.insert(Fronta.end(), telegram.begin(), telegram.end());
    Notify([&](LinkObserver& o) { o.Queued(telegram); });
    return true;
}

void TKomunikace::WaitMoreThan(std::uint32_t ms)
{
    auto& platform = FSeriovyPort->Platform();
    std::uint32_t t0 = platform.MultimediaTime();
    for (;;) {
        const std::uint32_t t = platform.MultimediaTime();
        if (t < t0)
            t0 = t;
        if (static_cast<std::uint32_t>(t - t0) > ms)
            return;
    }
}

void TKomunikace::PosliCekajici()
{
    Transmit(false);
}

void TKomunikace::Transmit(bool atPoll)
{
    FDelkaPosledni = 0;
    if (Fronta.empty())
        return;
    const auto n = static_cast<std::size_t>(Fronta.front());
    if (Fronta.size() < n + 1)
        return;

    VysilaciBuffer[0] = LeadByte;
    std::copy_n(Fronta.begin() + 1, n, VysilaciBuffer.begin() + 1);

    if (FRizeniDTR) {
        FSeriovyPort->SetDTR(true);
        WaitMoreThan(2);
    }
    FSeriovyPort->SendData(ByteSpan(VysilaciBuffer.data(), n + 1));
    if (FRizeniDTR) {
        WaitMoreThan(2);
        FSeriovyPort->SetDTR(false);
    }
    FDelkaPosledni = static_cast<std::uint8_t>(n);
    Notify([&](LinkObserver& o) { o.Sent(ByteSpan(VysilaciBuffer.data() + 1, n), atPoll); });

    // Telegrams from stations 0x37..0x3E with bits 5 and 6 of offset 5 set are sent once.
    const std::uint8_t from = VysilaciBuffer[1 + 2];
    const std::uint8_t offset5 = VysilaciBuffer[1 + 5];
    if (from >= 0x37 && from <= 0x3E && (offset5 & 0x60) == 0x60)
        RemoveOldest(LinkObserver::Removal::OnceOnly);
}

void TKomunikace::OdeberCekajici()
{
    RemoveOldest(LinkObserver::Removal::Reply);
}

void TKomunikace::RemoveOldest(LinkObserver::Removal why)
{
    if (Fronta.empty())
        return;
    const auto n = static_cast<std::size_t>(Fronta.front());
    Fronta.erase(Fronta.begin(),
                 Fronta.begin() + static_cast<std::ptrdiff_t>(std::min(n + 1, Fronta.size())));
    Notify([&](LinkObserver& o) { o.Removed(why); });
}

void TKomunikace::VymazFrontu()
{
    const std::size_t cleared = FObservers.empty() ? 0 : PendingCount();
    Fronta.clear();
    for (std::size_t i = 0; i < cleared; ++i)
        Notify([](LinkObserver& o) { o.Removed(LinkObserver::Removal::Cleared); });
}

void TKomunikace::AddObserver(LinkObserver* observer)
{
    if (observer && std::find(FObservers.begin(), FObservers.end(), observer) == FObservers.end())
        FObservers.push_back(observer);
}

void TKomunikace::RemoveObserver(LinkObserver* observer)
{
    std::erase(FObservers, observer);
}

ByteSpan TKomunikace::PosledniTLG() const
{
    if (FDelkaPosledni == 0)
        return {};
    return ByteSpan(VysilaciBuffer.data(), std::size_t{FDelkaPosledni} + 1);
}

std::size_t TKomunikace::PendingCount() const
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < Fronta.size(); at += static_cast<std::size_t>(Fronta[at]) + 1)
        ++count;
    return count;
}

std::vector<std::uint8_t> TKomunikace::OldestPending() const
{
    if (Fronta.empty())
        return {};
    const auto n = std::min(static_cast<std::size_t>(Fronta.front()), Fronta.size() - 1);
    return {Fronta.begin() + 1, Fronta.begin() + 1 + static_cast<std::ptrdiff_t>(n)};
}

bool TKomunikace::ReagujNaTelegram(ByteSpan telegram)
{
    if (IsPoll(telegram)) {
        Transmit(true);
        return FDelkaPosledni != 0;
    }
    OdeberCekajici();
    return false;
}

void TKomunikace::ZpracujPrijem(std::vector<std::uint8_t>& accumulator,
                                const ReceiveHandlers& handlers)
{
    qtr290::ZpracujPrijem(accumulator,
                          {[&](ByteSpan telegram) {
                               if (!FObservers.empty()) {
                                   const bool poll = IsPoll(telegram);
                                   Notify([&](LinkObserver& o) { o.Received(telegram, poll); });
                               }
                               if (handlers.show)
                                   handlers.show(telegram);
                               if (ReagujNaTelegram(telegram) && handlers.sent)
                                   handlers.sent(PosledniTLG());
                           },
                           [&](FramerError error) {
                               Notify([&](LinkObserver& o) { o.Damaged(error); });
                               if (handlers.message)
                                   handlers.message(FramerErrorText(error));
                           }});
}

} // namespace qtr290
