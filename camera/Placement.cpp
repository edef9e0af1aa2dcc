// Preview placement: render mode and rotation.
#include <lumacap/DXCamera.h>

void CDXCamera::SetRenderMode(unsigned int mode) { m_nRenderMode = mode; }
unsigned int CDXCamera::GetRenderMode() { return m_nRenderMode; }
void CDXCamera::SetRotatePreview(int rotate) { m_bRotatePreview = rotate; }
unsigned int CDXCamera::GetRotatePreview() { return static_cast<unsigned int>(m_bRotatePreview); }
