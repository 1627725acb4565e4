#include "synthesis/Respiration.h"

CRelaxed<bool> g_RespirationEnabled{false};
CRelaxed<int> s_RespBaseline{0};
