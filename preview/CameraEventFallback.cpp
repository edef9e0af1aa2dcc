// The camera's event handler is linked in from camera/; until it is, graph events that reach the
// preview window are consumed here without effect. The camera's own definition replaces this one.
#include <lumacap/DXCamera.h>

__attribute__((weak)) void CDXCamera::HandleEvent() {}
