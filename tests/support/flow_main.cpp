// wavtrn-flow: runs the dialog procedure on the scripted backend from a script on
// standard input (or the file named as the one argument) and prints the transcript.
#include "support/flow.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

int main(int argc, char** argv) {
    if (argc > 2) {
        std::cerr << "usage: wavtrn-flow [SCRIPT]\n";
        return 2;
    }
    std::string script;
    if (argc == 2) {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) {
            std::cerr << "wavtrn-flow: cannot read " << argv[1] << '\n';
            return 2;
        }
        script.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else {
        script.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }
    const flow::Result result = flow::RunScript(script);
    std::cout << result.transcript << std::flush;
    std::cerr << result.errors << std::flush;
    return result.exitStatus;
}
