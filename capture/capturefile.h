// The capture file "incoming.txt": time-stamped lines of received chunks and of
// queued requests, appended one line per call.
#pragma once

#include "link/telegram.h"

#include <QDateTime>
#include <QString>

#include <string>
#include <string_view>

namespace qtr290 {

// "DDMMYYYY hh:mm:ss:zzz" of the given local date and time.
std::string CasovaZnacka(const QDateTime& when);
// The same of the current local time.
std::string CasovaZnacka();

// timestamp ">" chunk text CR LF
std::string CaptureChunkLine(ByteSpan chunk, const QDateTime& when);
// timestamp ">Cteni dat" CR LF, written when a request is queued
std::string CaptureQueuedLine(const QDateTime& when);

// Appends the bytes to the file, creating missing directories and the file. The file
// is locked exclusively for the append; when another holder has it locked, or anything
// else fails, the bytes are lost and the result is false. Never waits for a lock and
// never shows anything. A failed write leaves no partial line behind.
bool PripisDoSouboru(const QString& path, ByteSpan bytes);
bool PripisDoSouboru(const QString& path, std::string_view text);

} // namespace qtr290
