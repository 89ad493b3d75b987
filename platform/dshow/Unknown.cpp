#include "platform/dshow/Unknown.h"

bool IsEqualObject(IUnknown *a, IUnknown *b)
{
    if (a == b)
        return true;
    if (!a || !b)
        return false;
    ComPtr<IUnknown> ua = ComQuery<IUnknown>(a);
    ComPtr<IUnknown> ub = ComQuery<IUnknown>(b);
    return ua && ua == ub;
}
