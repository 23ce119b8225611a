#include "ui/startup.h"

int main(int argc, char* argv[]) {
    return quillon::runApplication(argc, argv);
}
