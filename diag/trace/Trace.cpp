#include "Trace.h"

#include "Logging.h"

void TraceLog(const char* pszCategory, uint32_t nLevel, const char* pszMessage, uint32_t nNumber,
              const char* pszFile, int nLine)
{
    CLogging::TraceProcessWide(pszCategory, nLevel, pszMessage, nNumber, pszFile, nLine);
}
