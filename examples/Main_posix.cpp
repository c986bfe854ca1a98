#include "RunRvk.h"

int main(int argc, char** argv) {
    return rvk::runRvk(std::vector<std::string>(argv + 1, argv + argc));
}
