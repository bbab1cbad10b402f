#include "FuzzSupport.h"

#include "core/log/LogService.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

void StartFuzzApplication(const char* ip_name)
{
    if (QCoreApplication::instance())
        return;
    static int s_argc = 1;
    static std::string s_name;
    s_name = ip_name;
    static char* s_argv[] = {s_name.data(), nullptr};
    new QCoreApplication(s_argc, s_argv);
    SetLogFolder(QString());
}

void FillLogHistory(std::initializer_list<const char*> i_areas)
{
    // Texts of their own, as logged lines have: dropping one frees it.
    for (const char* lp_area : i_areas) {
        for (int l_line = 0; l_line < LogHistory::MaxLinesPerArea; ++l_line)
            GetLogHistory().Add(QString::fromLatin1(lp_area), QString("room for the fuzz target's lines %1").arg(l_line), 0);
    }
}

void OracleFailed(const std::string& i_what, const std::string& i_details)
{
    std::fprintf(stderr, "==ORACLE== %s\n", i_what.c_str());
    if (!i_details.empty())
        std::fprintf(stderr, "%s\n", i_details.c_str());
    std::fflush(stderr);
    std::abort();
}

LogWatch::LogWatch()
{
    // Direct: the line is seen inside the call that logged it.
    m_connection = QObject::connect(GetLogNotifier(), &LogNotifier::LineLogged, GetLogNotifier(),
                                    [this](const LogEntry& i_entry) { m_lines.emplace_back(i_entry.m_area, i_entry.m_line); },
                                    Qt::DirectConnection);
}

LogWatch::~LogWatch()
{
    QObject::disconnect(m_connection);
}

bool LogWatch::Saw(const char* ip_area, std::initializer_list<const char*> i_texts) const
{
    for (const auto& [l_area, l_line] : m_lines) {
        if (l_area != QLatin1String(ip_area))
            continue;
        for (const char* lp_text : i_texts) {
            if (l_line.contains(QLatin1String(lp_text)))
                return true;
        }
    }
    return false;
}
