#include "engine/identify.h"
#include <cstring>
namespace quorvex {
uint8_t IdentifySector(const uint8_t* b, uint32_t, bool){ if(!std::memcmp(b,"PK\3\4",4)) return 16; return 0;}
int64_t Mpeg2PackScr(const uint8_t*){return -1;}
int64_t Mpeg1PackScr(const uint8_t*){return -1;}
bool IsFatNameChar(uint8_t){return false;}
}
