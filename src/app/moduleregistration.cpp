#include <QtQml/qqml.h>
#include <QtQml/qqmlmoduleregistration.h>

// The module TarvikQml carries QML documents only: no native type is registered, and the
// native objects reach QML as context properties. Both the module version and the
// "any minor version" marker are registered, the same way Qt's generated code does it.
Q_DECL_EXPORT void qml_register_types_TarvikQml()
{
    qmlRegisterModule("TarvikQml", 254, 0);
    qmlRegisterModule("TarvikQml", 254, 254);
}

static const QQmlModuleRegistration tarvikQmlRegistration("TarvikQml",
                                                          qml_register_types_TarvikQml);
