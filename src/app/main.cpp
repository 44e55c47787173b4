#include "app/CommandLine.h"

int main(int argc, char **argv)
{
    return oxle::runOxle(argc, argv);
}
