#pragma once

#include <QObject>
#include <QString>

// One entry of a selectable list shown by the scene: a number that identifies
// it within its list (-1 is "none"), a display name and a type text.
class Option : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "auto")
    Q_PROPERTY(int number READ number WRITE setNumber NOTIFY numberChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QString type READ type WRITE setType NOTIFY typeChanged)

public:
    // The form QML uses; such an entry has number 0 until it is given one.
    explicit Option(QObject* parent = nullptr);
    Option(int number, const QString& name, const QString& type, QObject* parent);

    int number() const { return number_; }
    QString name() const { return name_; }
    QString type() const { return type_; }

    void setNumber(int number);
    void setName(const QString& name);
    void setType(const QString& type);

Q_SIGNALS:
    void numberChanged();
    void nameChanged();
    void typeChanged();

private:
    int number_ = 0;
    QString name_;
    QString type_;
};
