#include "platform/dshow/MediaType.h"

#include <algorithm>
#include <cstring>

void CMediaType::SetSampleSize(ULONG size)
{
    if (size == 0) {
        SetVariableSize();
        return;
    }
    bFixedSizeSamples = true;
    lSampleSize = size;
}

bool CMediaType::IsPartiallySpecified() const
{
    return majortype == GUID_NULL || formattype == GUID_NULL;
}

void CMediaType::SetFormat(const void *data, size_t length)
{
    m_format.assign(length, 0);
    if (data != nullptr && length > 0)
        std::memcpy(m_format.data(), data, length);
}

BYTE *CMediaType::AllocFormatBuffer(size_t length)
{
    m_format.resize(length, 0);
    return Format();
}

bool operator==(const CMediaType &a, const CMediaType &b)
{
    return a.majortype == b.majortype && a.subtype == b.subtype && a.formattype == b.formattype
        && a.m_format == b.m_format;
}

bool CMediaType::MatchesPartial(const CMediaType &partial) const
{
    if (partial.majortype != GUID_NULL && majortype != partial.majortype)
        return false;
    if (partial.subtype != GUID_NULL && subtype != partial.subtype)
        return false;
    if (partial.formattype != GUID_NULL) {
        if (formattype != partial.formattype)
            return false;
        if (m_format != partial.m_format)
            return false;
    }
    return true;
}
