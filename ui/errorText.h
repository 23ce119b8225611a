#pragma once

#include <QString>

namespace quillon {

// The reason for a failed file operation, from its errno, in the words the
// window uses: never the system's English text. Unknown numbers are named by
// their number only.
QString systemErrorText(int errorNumber);

// "「path」: reason" for a file the program could not read or write.
QString fileErrorText(const QString& path, int errorNumber);

} // namespace quillon
