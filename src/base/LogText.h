// The log text kept by the device session and the libraries. Each line is appended after a
// carriage return and line feed, so a non-empty log begins with a line break. Lines may come
// from worker threads, hence the lock.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace corvane {

class TLogText {
public:
    void AddLog(std::string_view line) {
        std::lock_guard lock(FMutex);
        FText += "\r\n";
        FText += line;
    }
    void Append(std::string_view text) {
        std::lock_guard lock(FMutex);
        FText += text;
    }
    std::string Text() const {
        std::lock_guard lock(FMutex);
        return FText;
    }
    void Clear() {
        std::lock_guard lock(FMutex);
        FText.clear();
    }

private:
    mutable std::mutex FMutex;
    std::string FText;
};

}  // namespace corvane
