#pragma once

#include "option.h"

#include <QList>
#include <QObject>
#include <QQmlListProperty>

// An ordered list of options for a picker in the scene. The list does not own
// its entries: each Option is a QObject child of whoever made it (the list
// itself for its "none" entry). After clear() it always holds exactly one new
// "none" entry (number -1).
class OptionList : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_PROPERTY(QQmlListProperty<Option> options READ options NOTIFY optionsChanged)

public:
    explicit OptionList(QObject* parent = nullptr);

    QQmlListProperty<Option> options();

    void append(Option* option);
    qsizetype count() const;
    Option* option(qsizetype index) const;
    void clear();
    void replace(qsizetype index, Option* option);
    void removeLast();

Q_SIGNALS:
    void optionsChanged();

private:
    static void appendOption(QQmlListProperty<Option>* list, Option* option);
    static qsizetype optionCount(QQmlListProperty<Option>* list);
    static Option* optionAt(QQmlListProperty<Option>* list, qsizetype index);
    static void clearOptions(QQmlListProperty<Option>* list);
    static void replaceOption(QQmlListProperty<Option>* list, qsizetype index, Option* option);
    static void removeLastOption(QQmlListProperty<Option>* list);

    QList<Option*> options_;
};
