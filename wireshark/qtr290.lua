-- Wireshark dissector for the QTR290 device bus: one telegram per packet, link-layer
-- type USER0 (147), as written by qtr290-pcap and qtr290-extcap.
--
-- Install: copy this file into the personal Lua plugins folder (on Linux
-- ~/.local/lib/wireshark/plugins/; "tshark -G folders" names it "Personal Lua Plugins"),
-- or load it for one run:  tshark -X lua_script:qtr290.lua -r capture.pcapng
--
-- What the packet flags (pcapng epb_flags) mean here:
--   direction inbound  = received from the bus; outbound = transmitted by the utility
--                        (then the packet starts with the 0xFF lead byte)
--   CRC error          = a damaged telegram: the framer rejected a checksum at its sync byte
--   start frame delimiter error = skipped bytes: no telegram starts in them (noise)
--   packet too short   = bytes the framer still held when the capture ended
-- A packet without flags is taken as received.

local qtr290 = Proto("qtr290", "QTR290 bus telegram")

local SYNC_LONG, SYNC_SHORT, LEAD = 0xA6, 0xA5, 0xFF

local area_names = {
    [0x00] = "RAM290", [0x10] = "FRAM290", [0x20] = "RTC290", [0x30] = "FLASH290",
    [0x40] = "ROM290", [0x50] = "FLROM290", [0x60] = "RAMBIT290", [0x70] = "unknown area 0x70",
}
local area_short = {
    [0x00] = "RAM", [0x10] = "FRAM", [0x20] = "RTC", [0x30] = "FLASH",
    [0x40] = "ROM", [0x50] = "FLROM", [0x60] = "RAMBIT", [0x70] = "area 0x70",
}
local f = {
    sync = ProtoField.uint8("qtr290.sync", "Sync", base.HEX,
        { [SYNC_LONG] = "long telegram", [SYNC_SHORT] = "short telegram" }),
    to = ProtoField.uint8("qtr290.to", "To", base.HEX),
    from = ProtoField.uint8("qtr290.from", "From", base.HEX),
    device = ProtoField.uint8("qtr290.device", "Device", base.HEX),
    rw = ProtoField.uint8("qtr290.rw", "Read/write", base.DEC, { [0] = "Read", [1] = "Write" }, 0x80),
    -- The area code as the Device byte holds it (bits 4 to 6): 0x10 is FRAM290.
    area = ProtoField.uint8("qtr290.area", "Memory area", base.HEX, area_names),
    -- 0 marks a poll; 2 the requests the utility builds. The bus defines no other.
    func = ProtoField.uint8("qtr290.function", "Function", base.DEC,
        { [0] = "poll", [2] = "request" }, 0x07),
    kind = ProtoField.uint8("qtr290.kind", "Kind", base.DEC, { [4] = "poll" }, 0xE0),
    length = ProtoField.uint8("qtr290.length", "Block length L", base.DEC),
    hdr_checksum = ProtoField.uint8("qtr290.hdr_checksum", "Header checksum", base.HEX),
    count = ProtoField.uint8("qtr290.count", "Count", base.DEC),
    address = ProtoField.uint24("qtr290.address", "Address", base.HEX),
    data = ProtoField.bytes("qtr290.data", "Data"),
    crc8 = ProtoField.uint8("qtr290.crc8", "CRC8", base.HEX),
    block_checksum = ProtoField.uint8("qtr290.block_checksum", "Block checksum", base.HEX),
    poll = ProtoField.bool("qtr290.poll", "Poll"),
    lead = ProtoField.bool("qtr290.lead", "Lead byte 0xFF before the telegram"),
    bad_checksum = ProtoField.string("qtr290.bad_checksum", "Wrong checksum"),
    damaged = ProtoField.bool("qtr290.damaged", "Damaged (rejected by the framer)"),
    skipped = ProtoField.bytes("qtr290.skipped", "Skipped bytes"),
    incomplete = ProtoField.bytes("qtr290.incomplete", "Incomplete at the end of the capture"),
    sent = ProtoField.bool("qtr290.sent", "Transmitted by the utility"),
}
qtr290.fields = f

local e_checksum = ProtoExpert.new("qtr290.bad_checksum.expert", "Wrong checksum",
    expert.group.CHECKSUM, expert.severity.ERROR)
local e_damaged = ProtoExpert.new("qtr290.damaged.expert", "Damaged telegram",
    expert.group.MALFORMED, expert.severity.ERROR)
local e_truncated = ProtoExpert.new("qtr290.truncated.expert", "Telegram shorter than its header says",
    expert.group.MALFORMED, expert.severity.ERROR)
local e_skipped = ProtoExpert.new("qtr290.skipped.expert", "Bytes without a telegram",
    expert.group.SEQUENCE, expert.severity.NOTE)
qtr290.experts = { e_checksum, e_damaged, e_truncated, e_skipped }

local packet_flags = Field.new("frame.packet_flags")

local FLAG_CRC_ERROR = 0x01000000
local FLAG_TOO_SHORT = 0x04000000
local FLAG_NO_START = 0x20000000

-- Additive checksum check: the bytes, checksum included, add up to 0 modulo 256.
local function sums_to_zero(tvb, offset, length)
    local sum = 0
    for i = offset, offset + length - 1 do sum = sum + tvb(i, 1):uint() end
    return sum % 256 == 0
end

-- CRC-8/MAXIM, initial value 0 (reflected polynomial 0x8C).
local function crc8(tvb, offset, length)
    local crc = 0
    for i = offset, offset + length - 1 do
        local d = tvb(i, 1):uint()
        for _ = 1, 8 do
            local mix = bit.band(bit.bxor(crc, d), 1)
            crc = bit.rshift(crc, 1)
            if mix == 1 then crc = bit.bxor(crc, 0x8C) end
            d = bit.rshift(d, 1)
        end
    end
    return crc
end

local function bad(tree, item, tvb_range, what)
    tree:add(f.bad_checksum, tvb_range, what)
    item:add_proto_expert_info(e_checksum, "Wrong " .. what .. " checksum")
    return what
end

-- The layout of a request, as the utility builds them (Device bits 0 to 3 = 1010): "read"
-- (block length 3: Count, Address), "write" (bit 7 set, block length Count + 4: Count,
-- Address, Data, CRC8), or nil. Nothing else on the bus has a defined block.
local function request_layout(b3, L, count)
    if bit.band(b3, 0x0F) ~= 0x0A then return nil end
    if bit.band(b3, 0x80) == 0 then return L == 3 and "read" or nil end
    if count ~= nil and L == count + 4 then return "write" end
    return nil
end

-- Decodes the telegram that starts at `at`; returns the Info text and the telegram's length.
-- Flagged are only the header checksum, the block checksum, a write request's CRC8 and a
-- block shorter than the header says.
local function telegram(tvb, tree, at, damaged)
    local avail = tvb:len() - at
    local sync = tvb(at, 1):uint()
    local long = sync == SYNC_LONG
    local hlen = long and 6 or 5
    tree:add(f.sync, tvb(at, 1))
    if avail < hlen then
        tree:add_proto_expert_info(e_truncated, "Header incomplete")
        return "Telegram start without header"
    end
    local to, from = tvb(at + 1, 1):uint(), tvb(at + 2, 1):uint()
    tree:add(f.to, tvb(at + 1, 1))
    tree:add(f.from, tvb(at + 2, 1))
    local b3 = tvb(at + 3, 1):uint()
    local is_poll = long and bit.band(b3, 0x07) == 0 or (not long and bit.rshift(b3, 5) == 4)
    local L
    if long then
        local dev = tree:add(f.device, tvb(at + 3, 1))
        if not is_poll then
            dev:add(f.rw, tvb(at + 3, 1))
            dev:add(f.area, tvb(at + 3, 1), bit.band(b3, 0x70))
        end
        dev:add(f.func, tvb(at + 3, 1))
        L = tvb(at + 4, 1):uint()
        tree:add(f.length, tvb(at + 4, 1))
    else
        tree:add(f.kind, tvb(at + 3, 1))
        L = bit.band(b3, 0x1F)
        tree:add(f.length, tvb(at + 3, 1), L)
    end
    local problems = {}
    local hc = tree:add(f.hdr_checksum, tvb(at + hlen - 1, 1))
    if not sums_to_zero(tvb, at, hlen) then
        problems[#problems + 1] = bad(tree, hc, tvb(at + hlen - 1, 1), "header")
    end

    local blen = L + 2
    local b = at + hlen
    local have = math.min(blen, avail - hlen)
    local count = have >= 1 and tvb(b, 1):uint() or nil
    local layout = long and not is_poll and request_layout(b3, L, count) or nil
    local area = area_short[bit.band(b3, 0x70)]
    local info
    if is_poll then
        info = "Poll"
    elseif layout then
        info = string.format("%s %s", layout == "write" and "Write" or "Read", area)
    elseif long then
        info = string.format("Function %d %s%s", bit.band(b3, 0x07),
            bit.band(b3, 0x80) ~= 0 and "write " or "", area)
    else
        info = string.format("Short kind %d", bit.rshift(b3, 5))
    end

    -- The block's end without its checksum: what a layout may decode.
    local payload_end = b + math.min(have, blen - 1)
    if layout then
        if have >= 1 then tree:add(f.count, tvb(b, 1)) end
        if have >= 4 then
            tree:add_le(f.address, tvb(b + 1, 3))
            info = string.format("%s 0x%06X ×%d", info, tvb(b + 1, 3):le_uint(), count)
        end
        local data_end = payload_end
        if layout == "write" then data_end = math.min(payload_end, b + 4 + count) end
        if data_end > b + 4 then tree:add(f.data, tvb(b + 4, data_end - (b + 4))) end
        if layout == "write" and have == blen then
            local crc_at = b + 4 + count
            local c = tree:add(f.crc8, tvb(crc_at, 1))
            if crc8(tvb, b, count + 4) ~= tvb(crc_at, 1):uint() then
                problems[#problems + 1] = bad(tree, c, tvb(crc_at, 1), "CRC8")
            end
        end
    elseif payload_end > b then
        tree:add(f.data, tvb(b, payload_end - b))
    end
    if have == blen then
        local bc = tree:add(f.block_checksum, tvb(b + blen - 1, 1))
        if not sums_to_zero(tvb, b, blen) then
            problems[#problems + 1] = bad(tree, bc, tvb(b + blen - 1, 1), "block")
        end
    else
        tree:add_proto_expert_info(e_truncated,
            string.format("Block of %d bytes expected, %d present", blen, math.max(have, 0)))
        problems[#problems + 1] = "truncated"
    end
    if not damaged then tree:add(f.poll, is_poll) end
    -- Sender first, as an arrow reads: "Poll 01→F0" is a poll from 01 to F0.
    info = string.format("%s %02X→%02X", info, from, to)
    if #problems > 0 then info = info .. " [wrong " .. table.concat(problems, ", ") .. "]" end
    return info, hlen + blen
end

function qtr290.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "QTR290"
    local flags = 0
    local fi = packet_flags()
    if fi then flags = fi.value end
    local sent = bit.band(flags, 0x3) == 2
    local tree = root:add(qtr290, tvb())
    local len = tvb:len()
    if len == 0 then return 0 end
    if sent then tree:add(f.sent, true) end

    if bit.band(flags, FLAG_NO_START) ~= 0 or bit.band(flags, FLAG_TOO_SHORT) ~= 0 then
        local skipped = bit.band(flags, FLAG_NO_START) ~= 0
        tree:add(skipped and f.skipped or f.incomplete, tvb())
        tree:add_proto_expert_info(e_skipped, skipped and "Skipped by the framer"
            or "Still held by the framer when the capture ended")
        pinfo.cols.info = string.format("%s %d byte%s", skipped and "Skipped" or "Incomplete",
            len, len == 1 and "" or "s")
        return len
    end

    local at = 0
    local lead = len > 1 and tvb(0, 1):uint() == LEAD
        and (tvb(1, 1):uint() == SYNC_LONG or tvb(1, 1):uint() == SYNC_SHORT)
    tree:add(f.lead, tvb(0, lead and 1 or 0), lead)
    if lead then at = 1 end
    local first = tvb(at, 1):uint()
    if first ~= SYNC_LONG and first ~= SYNC_SHORT then
        tree:add(f.skipped, tvb())
        pinfo.cols.info = string.format("No telegram (%d bytes)", len)
        return len
    end

    local damaged = bit.band(flags, FLAG_CRC_ERROR) ~= 0
    if damaged then
        tree:add(f.damaged, true)
        tree:add_proto_expert_info(e_damaged, "Damaged telegram: the framer rejected it")
    end
    local info, size = telegram(tvb, tree, at, damaged)
    if damaged then info = "Damaged: " .. info end
    if sent then info = "Sent: " .. info end
    if size and at + size < len then
        tree:add(f.skipped, tvb(at + size))
    end
    pinfo.cols.info = info
    return len
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, qtr290)
