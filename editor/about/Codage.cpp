#include "Codage.h"

void UnscrambleText(const QByteArray& key, const QByteArray& data, QByteArray& result)
{
    QByteArray built;
    if (!data.isEmpty() && key.isEmpty()) {
        built = data;
    } else if (!data.isEmpty()) {
        built.resize(data.size());
        qsizetype k = 0;
        for (qsizetype i = 0; i < data.size(); ++i) {
            const int d = static_cast<unsigned char>(data[i]) - static_cast<unsigned char>(key[k]);
            built[i] = static_cast<char>(d < 0 ? d + 256 : d);
            if (++k == key.size())
                k = 0;
        }
    }
    result = built;
}
