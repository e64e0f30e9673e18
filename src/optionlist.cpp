#include "optionlist.h"

OptionList::OptionList(QObject* parent)
    : QObject(parent)
{
    clear();
}

QQmlListProperty<Option> OptionList::options()
{
    return QQmlListProperty<Option>(this, this, &OptionList::appendOption, &OptionList::optionCount,
                                    &OptionList::optionAt, &OptionList::clearOptions,
                                    &OptionList::replaceOption, &OptionList::removeLastOption);
}

void OptionList::append(Option* option)
{
    options_.append(option);
}

qsizetype OptionList::count() const
{
    return options_.count();
}

Option* OptionList::option(qsizetype index) const
{
    if (index < 0 || index >= options_.count())
        return nullptr;
    return options_.at(index);
}

void OptionList::clear()
{
    // The removed entries belong to their parents; only the pointers go.
    options_.resize(0);
    options_.append(new Option(-1, QStringLiteral("none"), QString(), this));
}

void OptionList::replace(qsizetype index, Option* option)
{
    if (index < 0 || index >= options_.count())
        return;
    options_[index] = option;
}

void OptionList::removeLast()
{
    if (!options_.isEmpty())
        options_.removeLast();
}

void OptionList::appendOption(QQmlListProperty<Option>* list, Option* option)
{
    static_cast<OptionList*>(list->data)->append(option);
}

qsizetype OptionList::optionCount(QQmlListProperty<Option>* list)
{
    return static_cast<OptionList*>(list->data)->count();
}

Option* OptionList::optionAt(QQmlListProperty<Option>* list, qsizetype index)
{
    return static_cast<OptionList*>(list->data)->option(index);
}

void OptionList::clearOptions(QQmlListProperty<Option>* list)
{
    static_cast<OptionList*>(list->data)->clear();
}

void OptionList::replaceOption(QQmlListProperty<Option>* list, qsizetype index, Option* option)
{
    static_cast<OptionList*>(list->data)->replace(index, option);
}

void OptionList::removeLastOption(QQmlListProperty<Option>* list)
{
    static_cast<OptionList*>(list->data)->removeLast();
}
