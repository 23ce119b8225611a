#include "app/prefStore.h"

#include "app/binaryClass.h"

#include <system_error>
#include <utility>

namespace quillon {

namespace {

// The short string that marks the current form of the file.
constexpr const char* kCurrentForm = "114";

} // namespace

PrefStore::PrefStore(std::filesystem::path folder) : m_folder(std::move(folder)) {}

void PrefStore::Open(Settings& s) {
    m_lastError.clear();
    m_lastErrno = 0;
    bool existed = false;
    {
        binaryClass file;
        existed = file.openPrefFile(m_folder, kFileName);
        if (!file.isOpen()) {
            // No folder or no file we can use: run on the defaults.
            m_lastError = file.error();
            m_lastErrno = file.errorNumber();
            s.applyDefaults();
            s.prefN[6] = 0;
            return;
        }
        file.binaryClose();
    }
    // An empty file is what a first start leaves when it was interrupted
    // between creating the file and filling it: treat it like a missing one.
    std::error_code ec;
    const bool empty = existed && std::filesystem::file_size(filePath(), ec) == 0 && !ec;
    if (existed && !empty) {
        yomikomi(s);
    } else {
        init(s);
    }
}

void PrefStore::yomikomi(Settings& s) {
    m_lastError.clear();
    m_lastErrno = 0;
    binaryClass file;
    const bool existed = file.openPrefFile(m_folder, kFileName);
    if (!file.isOpen()) {
        m_lastError = file.error();
        m_lastErrno = file.errorNumber();
        return;
    }
    if (!existed) {
        // It vanished since start and was just created empty: nothing to read.
        return;
    }
    s.prefN[1] = file.rShort();
    s.prefN[2] = file.rShort();
    s.prefN[3] = file.rShort();
    s.prefN[4] = file.rShort();
    s.prefN[5] = file.rLong();
    s.prefN[6] = file.rShort();
    s.deriveSwitches();
    if (file.isEOF()) {
        // Only the codes are stored.
        s.inList = true;
        return;
    }
    s.filterString = file.readString();
    s.inList = file.rBool();
    if (!s.filterString.empty() && s.filterString != kCurrentForm) {
        // The older form: the short string is the filter text itself.
        s.shiwake();
        return;
    }
    s.filterString = file.readBinaryData();
    s.needYohaku = file.rBool();
    if (!s.filterString.empty()) {
        s.shiwake();
    }
}

void PrefStore::init(Settings& s) {
    m_lastError.clear();
    m_lastErrno = 0;
    s.applyDefaults();
    // The reserved field of a new file.
    s.prefN[6] = 0;

    binaryClass file;
    file.setFileOps(m_ops);
    file.openPrefFile(m_folder, kFileName);
    if (!file.isOpen()) {
        m_lastError = file.error();
        m_lastErrno = file.errorNumber();
        return;
    }
    for (int i = 1; i <= 4; ++i) {
        file.wShort(s.prefN[i]);
    }
    file.wLong(s.prefN[5]);
    file.wShort(s.prefN[6]);
    file.writeString(std::string());
    file.wBool(true);
    file.binaryClose();
    if (!file.writesOk()) {
        m_lastError = file.error();
        m_lastErrno = file.errorNumber();
    }
}

bool PrefStore::settei(Settings& s) {
    m_lastError.clear();
    m_lastErrno = 0;
    bool written = false;
    {
        // A file that vanished since start has just been created again by
        // the open: the confirmed settings go into it all the same.
        binaryClass file;
        file.setFileOps(m_ops);
        file.openPrefFile(m_folder, kFileName);
        if (file.isOpen()) {
            for (int i = 1; i <= 4; ++i) {
                file.wShort(s.prefN[i]);
            }
            file.wLong(s.prefN[5]);
            file.wShort(s.prefN[6]);
            file.writeString(kCurrentForm);
            file.wBool(s.inList);
            file.writeBinaryData(s.filterString);
            file.wBool(s.needYohaku);
            file.binaryClose();
            written = file.writesOk();
        }
        if (!written) {
            m_lastError = file.error();
            m_lastErrno = file.errorNumber();
        }
    }
    // What the user confirmed takes effect for this run even when it could
    // not be stored.
    s.shiwake();
    s.deriveSwitches();
    return written;
}

} // namespace quillon
