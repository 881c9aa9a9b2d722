#include "window/ServiceList.h"

namespace ServiceList {

int indexForPortText(const QString &text)
{
    for (int index = 0; index < kOtherIndex; ++index) {
        if (text == QString::number(kServices[index].port))
            return index;
    }
    return kOtherIndex;
}

} // namespace ServiceList
