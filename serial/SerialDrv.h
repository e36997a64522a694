// TSerialPortDriver: owns one serial port, configures it, writes blocks with a time-out,
// drives DTR, and polls the port on a periodic tick so received bytes reach the owner
// through OnReceiveData (or cut into packets through OnReceivePacket).
#pragma once

#include "serial/platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qtr290 {

enum TPortNumber : int {
    pnCustom = 0,
    pnCOM1,
    pnCOM2,
    pnCOM3,
    pnCOM4,
    pnCOM5,
    pnCOM6,
    pnCOM7,
    pnCOM8,
    pnCOM9,
    pnCOM10,
    pnCOM11,
    pnCOM12,
    pnCOM13,
    pnCOM14,
    pnCOM15,
    pnCOM16,
    pnCOM17,
    pnCOM18,
    pnCOM19,
    pnCOM20,
    pnCOM21,
    pnCOM22,
    pnCOM23,
    pnCOM24,
    pnCOM25
};

enum TBaudRate : int {
    brCustom = 0,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};

enum TDataBits : int { db5BITS = 0, db6BITS, db7BITS, db8BITS };
enum TStopBits : int { sb1BITS = 0, sb1HALFBITS, sb2BITS };
enum TParity : int { ptNONE = 0, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : int { hfNONE = 0, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : int { sfNONE = 0, sfXONXOFF };
enum TPacketMode : int { pmDiscard = 0, pmPass };
enum TLineStatus : int { lsCTS = 0, lsDSR, lsRING, lsCD };

// The active modem status lines; element n is bit n.
class TLineStatusSet {
public:
    constexpr TLineStatusSet() = default;
    constexpr explicit TLineStatusSet(std::uint8_t bits) : FBits(bits & 0x0F) {}
    constexpr bool contains(TLineStatus line) const { return (FBits >> line) & 1u; }
    constexpr void include(TLineStatus line) { FBits = std::uint8_t(FBits | (1u << line)); }
    constexpr bool empty() const { return FBits == 0; }
    constexpr std::uint8_t bits() const { return FBits; }
    friend constexpr bool operator==(TLineStatusSet, TLineStatusSet) = default;

private:
    std::uint8_t FBits = 0;
};

// The rate a TBaudRate stands for (0 for brCustom and for values outside the enumeration).
std::uint32_t BaudRateOf(TBaudRate rate);

class TSerialPortDriver {
public:
    // The span points into the driver's read buffer and is valid during the call only.
    // Handlers may call back into the driver (SendData, Disconnect, ...). They must not
    // throw: the tick runs inside the event loop.
    using TReceiveDataEvent =
        std::function<void(TSerialPortDriver& Sender, std::span<const std::uint8_t> Data)>;
    using TReceivePacketEvent =
        std::function<void(TSerialPortDriver& Sender, std::span<const std::uint8_t> Packet)>;
    using DeviceLostHandler = std::function<void(TSerialPortDriver& Sender)>;

    static constexpr std::uint32_t MinBufSize = 128;
    static constexpr std::uint32_t MaxBufSize = 8192;
    static constexpr std::uint16_t MinPollingDelay = 5;

    explicit TSerialPortDriver(std::unique_ptr<SerialPlatform> platform = MakeSystemPlatform());
    virtual ~TSerialPortDriver();
    TSerialPortDriver(const TSerialPortDriver&) = delete;
    TSerialPortDriver& operator=(const TSerialPortDriver&) = delete;

    SerialPlatform& Platform() { return *FPlatform; }

    // Properties.
    TPortNumber Port() const { return FPort; }
    const std::string& PortName() const { return FPortName; }
    TBaudRate BaudRate() const { return FBaudRate; }
    std::uint32_t BaudRateValue() const { return FBaudRateValue; }
    TDataBits DataBits() const { return FDataBits; }
    TStopBits StopBits() const { return FStopBits; }
    TParity Parity() const { return FParity; }
    THwFlowControl HwFlow() const { return FHwFlow; }
    TSwFlowControl SwFlow() const { return FSwFlow; }
    std::uint32_t InBufSize() const { return FInBufSize; }
    std::uint32_t OutBufSize() const { return FOutBufSize; }
    std::int16_t PacketSize() const { return FPacketSize; }
    std::int32_t PacketTimeout() const { return FPacketTimeout; }
    TPacketMode PacketMode() const { return FPacketMode; }
    std::uint16_t PollingDelay() const { return FPollingDelay; }
    bool EnableDTROnOpen() const { return FEnableDTROnOpen; }
    std::uint16_t OutputTimeout() const { return FOutputTimeout; }
    std::uint32_t InputTimeout() const { return FInputTimeout; }
    bool CheckLineStatus() const { return FCheckLineStatus; }
    const TReceiveDataEvent& OnReceiveData() const { return FOnReceiveData; }
    const TReceivePacketEvent& OnReceivePacket() const { return FOnReceivePacket; }
    const DeviceLostHandler& OnDeviceLost() const { return FOnDeviceLost; }

    // Ignored while open, and for values outside their enumeration.
    void SetPort(TPortNumber Value);
    void SetPortName(const std::string& Value);
    void SetInBufSize(std::uint32_t Value);  // clamped to 128..8192
    void SetOutBufSize(std::uint32_t Value); // clamped to 128..8192
    // Applied at once while open (the result is not reported); out-of-range values ignored.
    void SetBaudRate(TBaudRate Value);
    void SetBaudRateValue(std::uint32_t Value);
    void SetDataBits(TDataBits Value);
    void SetStopBits(TStopBits Value);
    void SetParity(TParity Value);
    void SetHwFlow(THwFlowControl Value);
    void SetSwFlow(TSwFlowControl Value);
    // 0 or less: packets off (-1). A size the read buffer cannot hold (above 8192, or above
    // InBufSize while open) is refused and PacketSize keeps its value; otherwise InBufSize
    // is raised to hold one packet.
    void SetPacketSize(std::int16_t Value);
    void SetPacketTimeout(std::int32_t Value);
    void SetPollingDelay(std::uint16_t Value);
    void SetPacketMode(TPacketMode Value) { FPacketMode = Value; }
    void SetEnableDTROnOpen(bool Value) { FEnableDTROnOpen = Value; }
    void SetOutputTimeout(std::uint16_t Value) { FOutputTimeout = Value; }
    void SetInputTimeout(std::uint32_t Value) { FInputTimeout = Value; }
    void SetCheckLineStatus(bool Value) { FCheckLineStatus = Value; }
    void SetOnReceiveData(TReceiveDataEvent Handler) { FOnReceiveData = std::move(Handler); }
    void SetOnReceivePacket(TReceivePacketEvent Handler) { FOnReceivePacket = std::move(Handler); }
    // Raised once, from the polling step, when the open device has gone; polling has stopped
    // by then. The handler may Disconnect.
    void SetOnDeviceLost(DeviceLostHandler Handler) { FOnDeviceLost = std::move(Handler); }

    bool Connect();
    // Why the last Connect() failed; None after a successful one.
    OpenFailure LastOpenFailure() const { return FLastOpenFailure; }
    void Disconnect();
    bool Connected() const { return FPlatform->isOpen(); }
    // The open device has gone: the polling step found it so and stopped polling. The port
    // stays open (every call on it fails) until Disconnect; Connect and Disconnect clear it.
    bool DeviceLost() const { return FDeviceLost; }
    bool ApplySettings();
    bool FlushBuffers(bool InBuffer, bool OutBuffer);
    // 65535 while closed; 0 when the output queue cannot be read or holds OutBufSize or more.
    std::uint16_t OutputFreeSpace();
    TLineStatusSet GetLineStatus();
    // The device's running count of received bytes lost to overruns; false while closed or
    // where the device keeps no such count.
    bool InputOverruns(std::uint64_t& count);
    std::uint32_t SendData(std::span<const std::uint8_t> Data);
    std::uint32_t SendDataTimeout(std::span<const std::uint8_t> Data, std::uint32_t Timeout);
    void SetDTR(bool State);
    // Line time of Count bytes at ten bit times each, in ms, rounded half to even
    // (0 when BaudRateValue is 0).
    std::uint32_t BytesTransmitTime(std::uint32_t Count) const;

    // The polling step; the platform timer runs it while open. Does nothing while closed,
    // once the device is lost, or when entered again from inside one of its own events.
    void TimerWndProc();

private:
    bool ReadInto(std::size_t count, std::size_t& got);
    // The step without packets: what is queued, raised as it is read.
    void ReadWithoutPackets(std::size_t queued, std::uint32_t epoch);
    // After a failed call in the polling step: if the device has gone, stop polling and say so.
    void CheckDeviceLost();

    std::unique_ptr<SerialPlatform> FPlatform; // first: outlives everything that uses it
    TPortNumber FPort = pnCOM2;
    std::string FPortName = "\\\\.\\COM2";
    TBaudRate FBaudRate = br9600;
    std::uint32_t FBaudRateValue = 9600;
    TDataBits FDataBits = db8BITS;
    TStopBits FStopBits = sb1BITS;
    TParity FParity = ptNONE;
    THwFlowControl FHwFlow = hfNONERTSON;
    TSwFlowControl FSwFlow = sfNONE;
    // What one polling step reads at most: 40 ms of 16 Mbaud, well above the fastest rate the
    // tools accept (4 Mbaud, 16 kB a step), so that a step always ends.
    static constexpr std::size_t MaxDrainPerStep = 64 * 1024;
    std::uint32_t FInBufSize = 2048;
    std::uint32_t FOutBufSize = 2048;
    std::int16_t FPacketSize = -1;
    std::int32_t FPacketTimeout = -1;
    TPacketMode FPacketMode = pmDiscard;
    std::uint16_t FPollingDelay = 50;
    bool FEnableDTROnOpen = true;
    std::uint16_t FOutputTimeout = 500;
    std::uint32_t FInputTimeout = 200;
    bool FCheckLineStatus = false;
    TReceiveDataEvent FOnReceiveData;
    TReceivePacketEvent FOnReceivePacket;
    DeviceLostHandler FOnDeviceLost;

    std::vector<std::uint8_t> FReadBuffer;         // InBufSize bytes, resized only while closed
    std::optional<std::uint32_t> FPacketStartTick; // none: no packet in progress
    std::uint32_t FEpoch = 0; // bumped by open, close and purge: a running step must stop
    bool FInStep = false;
    bool FDeviceLost = false;
    OpenFailure FLastOpenFailure = OpenFailure::None;
};

} // namespace qtr290
