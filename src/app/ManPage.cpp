// Writes the manual page: its template with the options of the program's table
// in place of the line "@OPTIONS@". Run at build time.

#include <fstream>
#include <iostream>
#include <string>

#include "OptionTable.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: make_man_page TEMPLATE OUT\n";
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2]);
    if (!in || !out) {
        std::cerr << "make_man_page: cannot read " << argv[1] << " or write " << argv[2] << "\n";
        return 1;
    }
    for (std::string line; std::getline(in, line);)
        out << (line == "@OPTIONS@" ? tw::ManPageOptions() : line + "\n");
    return out ? 0 : 1;
}
