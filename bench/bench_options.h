// Command-line options of the measuring programs: each option names where its value goes.
// Options come as "--name VALUE" or as a bare "--flag"; anything else is refused.
#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace qtr290::bench {

class CommandLine {
public:
    CommandLine& Value(const char* name, double& target)
    {
        return Add(name, [&target](const QString& v, bool* ok) { target = v.toDouble(ok); });
    }
    CommandLine& Value(const char* name, int& target)
    {
        return Add(name, [&target](const QString& v, bool* ok) { target = v.toInt(ok); });
    }
    CommandLine& Value(const char* name, unsigned& target)
    {
        return Add(name, [&target](const QString& v, bool* ok) { target = v.toUInt(ok); });
    }
    CommandLine& Value(const char* name, QString& target)
    {
        return Add(name, [&target](const QString& v, bool*) { target = v; });
    }
    CommandLine& Value(const char* name, std::string& target)
    {
        return Add(name, [&target](const QString& v, bool*) { target = v.toStdString(); });
    }
    // A bare flag that sets `target` to `value`.
    CommandLine& Flag(const char* name, bool& target, bool value)
    {
        FOptions.push_back({QLatin1String(name), false,
                            [&target, value](const QString&, bool*) { target = value; }});
        return *this;
    }

    // The program's arguments (the first is the program); false for an unknown option, a
    // missing value or a number that does not read.
    bool Parse(const QStringList& args)
    {
        for (int i = 1; i < args.size(); ++i) {
            const Option* option = Find(args[i]);
            if (!option || (option->takesValue && i + 1 >= args.size()))
                return false;
            bool ok = true;
            option->set(option->takesValue ? args[++i] : QString(), &ok);
            if (!ok)
                return false;
            FGiven.insert(option->name);
        }
        return true;
    }

    bool Given(const char* name) const { return FGiven.contains(QLatin1String(name)); }

private:
    struct Option {
        QString name;
        bool takesValue;
        std::function<void(const QString&, bool*)> set;
    };

    CommandLine& Add(const char* name, std::function<void(const QString&, bool*)> set)
    {
        FOptions.push_back({QLatin1String(name), true, std::move(set)});
        return *this;
    }
    const Option* Find(const QString& arg) const
    {
        for (const Option& option : FOptions)
            if (option.name == arg)
                return &option;
        return nullptr;
    }

    std::vector<Option> FOptions;
    QSet<QString> FGiven;
};

} // namespace qtr290::bench
