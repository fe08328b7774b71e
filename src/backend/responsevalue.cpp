// What a reply decodes to: a JSON object, the Boolean false or a text.
#include "responsevalue.h"

#include <QJsonDocument>

#include <cmath>

namespace vennacott {

ResponseValue::ResponseValue(Kind kind, QJsonObject object, QString text)
    : m_kind(kind)
    , m_object(std::move(object))
    , m_text(std::move(text))
{}

ResponseValue ResponseValue::object(QJsonObject object)
{
    return ResponseValue(Kind::Object, std::move(object), QString());
}

ResponseValue ResponseValue::falseValue()
{
    return ResponseValue(Kind::False, QJsonObject(), QString());
}

ResponseValue ResponseValue::text(QString text)
{
    return ResponseValue(Kind::Text, QJsonObject(), std::move(text));
}

std::optional<QString> ResponseValue::stringMember(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (!isObject() || !value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<qint64> ResponseValue::integerMember(const QString &key) const
{
    const QJsonValue value = m_object.value(key);
    if (!isObject() || !value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    // Beyond 2^53 a double no longer tells integers apart; such a code is no code we know.
    constexpr double kLimit = 9007199254740992.0;
    if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > kLimit)
        return std::nullopt;
    return static_cast<qint64>(number);
}

QString ResponseValue::description() const
{
    switch (m_kind) {
    case Kind::Object:
        return QString::fromUtf8(QJsonDocument(m_object).toJson(QJsonDocument::Compact));
    case Kind::False:
        return QStringLiteral("false");
    case Kind::Text:
        return m_text;
    }
    return QString();
}

} // namespace vennacott
