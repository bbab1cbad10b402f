#pragma once

#include <QMetaObject>
#include <QString>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// What every fuzz target shares: the Qt application that the code under test
// expects, and the way an oracle reports a fault.

// The entry of a target: one harness, made at the first input, runs each
// input (Harness::Run(data, size)).
template <typename Harness>
int RunInput(const unsigned char* ip_data, std::size_t i_size)
{
    static Harness s_harness;
    s_harness.Run(ip_data, i_size);
    return 0;
}

// Makes the one QCoreApplication of the process (once) and keeps log lines
// in the in-memory history only, with no files.
void StartFuzzApplication(const char* ip_name);

// Fills the in-memory history of each area to its limit, so that from then
// on a logged line takes the place of an old one. Otherwise every line would
// stay allocated after its run, and libFuzzer would look for a leak after
// each run that logged, at a great cost in speed.
void FillLogHistory(std::initializer_list<const char*> i_areas);

// An oracle that does not hold: prints what was expected and the details,
// then aborts, so that libFuzzer keeps the input as a crash.
[[noreturn]] void OracleFailed(const std::string& i_what, const std::string& i_details = std::string());

// Watches the lines logged from its making (or its last Clear) on.
class LogWatch
{
public:
    LogWatch();
    ~LogWatch();
    LogWatch(const LogWatch&) = delete;
    LogWatch& operator=(const LogWatch&) = delete;

    void Clear() { m_lines.clear(); }
    // Whether a line of the area contained one of the texts.
    bool Saw(const char* ip_area, std::initializer_list<const char*> i_texts) const;

private:
    std::vector<std::pair<QString, QString>> m_lines;  // area, line
    QMetaObject::Connection m_connection;
};
