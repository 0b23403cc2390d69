#pragma once

#include <QByteArray>
#include <QString>

// File names as the system holds them: bytes, UTF-8 where they are valid. A
// byte that is not part of valid UTF-8 becomes the lone surrogate U+DC00 plus
// its value, and turns back into that byte, so that every name the system
// allows survives the trip to text and back (Qt's own codec puts U+FFFD in
// its place and loses it).
QString decodeFileName(const QByteArray &bytes);
QByteArray encodeFileName(const QString &name);
