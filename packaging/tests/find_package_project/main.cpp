// Prints the colour the script function sets (30), the separator read back
// and whether the installed modem list was found.
#include <qel_comm.h>
#include <qelcomm6.hpp>

#include <cstdio>

int main()
{
    QcHandle object = CreateCommObject(0);
    if (!object)
        return 2;
    qelbasColor(object, 14, 1);
    SetLookUpSeparator(object, ';');
    std::printf("color %d separator %c\n", int(GetColor(object)), GetLookUpSeparator(object));
    std::printf("modem list %s\n", LoadModemOptions(object, 1) ? "found" : "missing");
    DestroyCommObject(object);
    return 0;
}
