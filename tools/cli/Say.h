// Where a run's texts for the technician go: standard output (Say) and standard error
// (Complain), as printf would put them, unless the calling thread runs one target's
// operation on a production line: there many runs go at once under a table, and each
// run's texts are kept with its row instead (CSayInto).
#pragma once

#include <string>

namespace cli {

void Say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Until it goes, what this thread says or complains is appended to the text given, a
// line per call's line.
class CSayInto {
public:
    explicit CSayInto(std::string& log);
    ~CSayInto();
    CSayInto(const CSayInto&) = delete;
    CSayInto& operator=(const CSayInto&) = delete;

private:
    std::string* m_previous;
};

}  // namespace cli
