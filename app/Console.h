// Console output: lines ended by CR LF, flushed at once on a console, else
// collected in a 128-byte buffer.
#pragma once

#include <string>

// Writes one line; a failed write raises EInOutError.
void WriteLine(const std::string& text);

// Writes what is buffered; a failed write raises EInOutError.
void FlushOutput();

// Flushes before an error report; a failure drops the buffered text.
void FlushOutputQuietly();
