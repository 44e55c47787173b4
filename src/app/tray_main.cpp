#include "app/TrayInstance.h"

int main(int argc, char **argv)
{
    return oxle::runTrayInstance(argc, argv);
}
