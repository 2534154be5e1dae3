#include "usage.h"

#include "status_argument.h"

namespace hwinfo {
namespace {

constexpr size_t kIndent = 25;
constexpr size_t kWidth = 80;

// The status names, wrapped under the option's description.
std::string status_name_lines() {
    std::string text;
    size_t column = kWidth;
    for (const std::string& name : status_names()) {
        if (column + 1 + name.size() >= kWidth) {
            text += "\n" + std::string(kIndent, ' ') + name;
            column = kIndent + name.size();
        } else {
            text += " " + name;
            column += 1 + name.size();
        }
    }
    return text + "\n";
}

}  // namespace

std::string help_text() {
    return "Usage: korvanta-hwinfo [--json | --prometheus [FILE]]\n"
           "  or:  korvanta-hwinfo set-uuid ID\n"
           "  or:  korvanta-hwinfo set-serial SN\n"
           "  or:  korvanta-hwinfo set-status CODE|NAME\n"
           "  or:  korvanta-hwinfo --help | --version\n"
           "\n"
           "Shows who this robot unit is, as libkorvanta-hardware reads it from the\n"
           "identity EEPROM or the identity files under /etc/korvanta/, or writes one item.\n"
           "\n"
           "  --json                 print the identity as one JSON object\n"
           "  --prometheus [FILE]    print it in Prometheus' text format, or replace FILE\n"
           "                         (a .prom file for node_exporter's textfile collector)\n"
           "  set-uuid ID            write the robot identifier (32 characters;\n"
           "                         hexadecimal digits on an EEPROM unit)\n"
           "  set-serial SN          write the robot serial number (likewise)\n"
           "  set-status CODE|NAME   write the robot status: a code from 0 to 65535 or one of" +
           status_name_lines() +
           "\n"
           "A write is checked by reading the unit again; the value now stored is printed.\n"
           "Exit status: 0 success; 1 the write failed or reads back differently, the\n"
           "EEPROM cannot be opened for reading, or the output cannot be written;\n"
           "2 usage error.\n";
}

std::string version_text() { return std::string("korvanta-hwinfo ") + KORVANTA_HWINFO_VERSION + "\n"; }

}  // namespace hwinfo
