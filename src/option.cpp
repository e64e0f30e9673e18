#include "option.h"

Option::Option(QObject* parent)
    : QObject(parent)
{
}

Option::Option(int number, const QString& name, const QString& type, QObject* parent)
    : QObject(parent)
    , number_(number)
    , type_(type)
{
    setName(name);
}

void Option::setNumber(int number)
{
    if (number_ == number)
        return;
    number_ = number;
    Q_EMIT numberChanged();
}

void Option::setName(const QString& name)
{
    if (name_ == name)
        return;
    name_ = name;
    Q_EMIT nameChanged();
}

void Option::setType(const QString& type)
{
    if (type_ == type)
        return;
    type_ = type;
    Q_EMIT typeChanged();
}
