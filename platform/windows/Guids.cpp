// Defines the interface IDs the library uses that mingw-w64's import libraries lack (the Windows
// Media format SDK's and the ASF writer's); initguid.h turns the headers' DEFINE_GUID into
// definitions here.
#include <initguid.h>

#include <dshowasf.h>
