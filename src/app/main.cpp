#include "app/startup.h"

int main(int argc, char** argv)
{
    return sorna::RunClient(argc, argv);
}
