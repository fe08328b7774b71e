// What a reply decodes to: a JSON object, the Boolean false or a text.
#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

namespace vennacott {

class ResponseValue final
{
public:
    enum class Kind { Object, False, Text };

    static ResponseValue object(QJsonObject object);
    static ResponseValue falseValue();
    static ResponseValue text(QString text);

    Kind kind() const { return m_kind; }
    bool isObject() const { return m_kind == Kind::Object; }
    bool isFalse() const { return m_kind == Kind::False; }
    bool isText() const { return m_kind == Kind::Text; }

    // Empty unless the value is of that kind.
    const QJsonObject &objectValue() const { return m_object; }
    const QString &textValue() const { return m_text; }

    // The member `key` of an object when it is a JSON string.
    std::optional<QString> stringMember(const QString &key) const;
    // The member `key` of an object when it is a JSON number with an integral value (401 and 401.0 alike).
    std::optional<qint64> integerMember(const QString &key) const;

    // The printed form: compact JSON for an object, "false", or the text itself.
    QString description() const;

private:
    ResponseValue(Kind kind, QJsonObject object, QString text);

    Kind m_kind;
    QJsonObject m_object;
    QString m_text;
};

} // namespace vennacott
