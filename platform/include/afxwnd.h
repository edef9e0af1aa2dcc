// Window classes of the framework (CWnd and friends).
#pragma once
