// Waiting, the millisecond tick, and the local date and time of the log header.
#include <sched.h>
#include <sys/time.h>
#include <time.h>

#include <clocale>
#include <cstring>

#include "platform/windows_api.h"

void Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

DWORD timeGetTime() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto ms = static_cast<unsigned long long>(now.tv_sec) * 1000ULL +
              static_cast<unsigned long long>(now.tv_nsec) / 1000000ULL;
    return static_cast<DWORD>(ms);
}

void GetLocalTime(SYSTEMTIME* out) {
    timeval now{};
    gettimeofday(&now, nullptr);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    out->wYear = static_cast<WORD>(local.tm_year + 1900);
    out->wMonth = static_cast<WORD>(local.tm_mon + 1);
    out->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    out->wDay = static_cast<WORD>(local.tm_mday);
    out->wHour = static_cast<WORD>(local.tm_hour);
    out->wMinute = static_cast<WORD>(local.tm_min);
    out->wSecond = static_cast<WORD>(local.tm_sec);
    out->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}

namespace {

tm toTm(const SYSTEMTIME* time) {
    tm t{};
    t.tm_year = time->wYear - 1900;
    t.tm_mon = time->wMonth - 1;
    t.tm_mday = time->wDay;
    t.tm_wday = time->wDayOfWeek;
    t.tm_hour = time->wHour;
    t.tm_min = time->wMinute;
    t.tm_sec = time->wSecond;
    t.tm_isdst = -1;
    return t;
}

// Formats in the user's LC_TIME locale; returns the size written with its
// terminator, 0 on failure (the caller then shows an empty text).
int formatLocal(const SYSTEMTIME* when, const char* format, LPSTR out, int outSize) {
    if (out == nullptr || outSize <= 0) return 0;
    SYSTEMTIME now{};
    if (when == nullptr) {
        GetLocalTime(&now);
        when = &now;
    }
    tm t = toTm(when);
    locale_t userLocale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    size_t n = userLocale ? strftime_l(out, static_cast<size_t>(outSize), format, &t, userLocale)
                          : strftime(out, static_cast<size_t>(outSize), format, &t);
    if (userLocale) freelocale(userLocale);
    if (n == 0) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<int>(n) + 1;
}

}  // namespace

int GetDateFormatA(LCID, DWORD flags, const SYSTEMTIME* date, LPCSTR, LPSTR out, int outSize) {
    const char* format = (flags & DATE_LONGDATE) ? "%A, %B %-d, %Y" : "%x";
    return formatLocal(date, format, out, outSize);
}

int GetTimeFormatA(LCID, DWORD, const SYSTEMTIME* time, LPCSTR, LPSTR out, int outSize) {
    return formatLocal(time, "%H:%M:%S", out, outSize);
}
