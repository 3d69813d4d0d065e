// Prints the colour the script function sets (30) and the separator read back.
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
    DestroyCommObject(object);
    return 0;
}
