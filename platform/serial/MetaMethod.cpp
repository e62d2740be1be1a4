#include "MetaMethod.h"

#include <QtCore/QByteArray>

#include <stdexcept>
#include <string>

QMetaMethod requiredMethod(const QMetaObject &type, const char *signature)
{
    const QByteArray normalised = QMetaObject::normalizedSignature(signature);
    const int index = type.indexOfMethod(normalised.constData());
    if (index < 0) {
        throw std::logic_error(std::string(type.className()) + " has no method "
                               + normalised.toStdString());
    }
    return type.method(index);
}
