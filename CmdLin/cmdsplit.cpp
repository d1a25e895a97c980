#include "CmdLin/cmdsplit.h"

namespace CmdLin {

namespace {

// The byte at pos, or 0 past the end: the line ends at its first NUL byte.
unsigned char At(std::string_view line, std::size_t pos) {
    return pos < line.size() ? static_cast<unsigned char>(line[pos]) : 0;
}

// One character forward: a double-byte character is one step.
std::size_t Step(std::string_view line, std::size_t pos, LeadBytePredicate isLead) {
    if (At(line, pos) == 0) return pos;
    if (isLead != nullptr && isLead(At(line, pos)) && At(line, pos + 1) != 0) return pos + 2;
    return pos + 1;
}

} // namespace

std::string ReadParam(std::string_view line, std::size_t& pos, LeadBytePredicate isLead) {
    for (;;) {
        unsigned char c = At(line, pos);
        if (c >= 1 && c <= 32) {
            pos = Step(line, pos, isLead);
        } else if (c == '"' && At(line, pos + 1) == '"') {
            pos += 2;
        } else {
            break;
        }
    }
    std::string param;
    while (At(line, pos) > 32) {
        if (At(line, pos) == '"') {
            pos = Step(line, pos, isLead);
            while (At(line, pos) != 0 && At(line, pos) != '"') {
                std::size_t next = Step(line, pos, isLead);
                param.append(line.substr(pos, next - pos));
                pos = next;
            }
            if (At(line, pos) == '"') pos = Step(line, pos, isLead);
        } else {
            std::size_t next = Step(line, pos, isLead);
            param.append(line.substr(pos, next - pos));
            pos = next;
        }
    }
    return param;
}

std::vector<std::string> SplitCommandLine(std::string_view line, LeadBytePredicate isLead) {
    std::vector<std::string> params;
    std::size_t pos = 0;
    params.push_back(ReadParam(line, pos, isLead));
    for (;;) {
        std::string p = ReadParam(line, pos, isLead);
        if (p.empty()) break;
        params.push_back(std::move(p));
    }
    return params;
}

} // namespace CmdLin
