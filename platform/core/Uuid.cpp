#include "Uuid.h"

#include <QUuid>

QString pondra::newUuidText()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
