// Why the packet driver could not open an adapter (or found none), kept as a text id and
// its words and put into the words of the string tables, in the user's language, only
// when asked.
//
// Threads: none of its own; the driver calls it under its lock.
#pragma once

#include <string>
#include <vector>

namespace fdp {

class CAdapterFailure {
public:
    void Clear() { Set(0, {}); }
    void Set(unsigned textId, std::vector<std::string> words);
    // There is no packet socket to reach the adapter through: a lack of privilege is told
    // with its remedy, anything else with the system's reason (error is an errno).
    void SetNoSocket(const std::string& adapter, int error);
    // The text, empty when there is no failure.
    std::string Text() const;

private:
    unsigned m_textId = 0;   // 0: no failure
    std::vector<std::string> m_words;
};

}  // namespace fdp
