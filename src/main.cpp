#include "veltranomain.h"

int main(int argc, char** argv)
{
    return veltranoMain(argc, argv, QUrl(QString::fromLatin1(kMainSceneUrl)));
}
