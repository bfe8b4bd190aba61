// The web browser control on Qt WebEngine (Chromium), one widget type of
// the window objects' factory. Built only where Qt WebEngine is found.
#pragma once

#include <functional>
#include <string>

class QObject;
class QWidget;

namespace kv {

// Chromium's defaults for this player, set before the application is made
// unless the environment sets them: software drawing (so a window and a
// headless frame draw alike, and no GPU is needed), and no sandbox for root,
// which Chromium refuses to sandbox.
void PrepareWebEngine();

QWidget* MakeWebBrowser();
// "enabled" ("1"/"0"), "exitKey" (the stage's exit key, a virtual key, which
// goes to the stage and never to the page), and "put:NAME" for a control property put by name:
// "LocationURL", "URL", "Navigate" and "Navigate2" (any case) go to the
// address; other names are kept and change nothing. Off screen a navigation
// returns once the page is loaded and drawn.
void SetWebBrowserProperty(QWidget& widget, const std::string& property, const std::string& value);
// Reports "LocationURL" when the page moves on and "loaded" ("1"/"0") when a
// load ends.
// Every "file:" address the page reads (the page itself, its pictures,
// frames and links) is first put to `mayRead`; a refused one is blocked.
void JudgeWebBrowserFiles(QWidget& widget, std::function<bool(const std::string& address)> mayRead);
void WatchWebBrowser(QWidget& widget, QObject& context,
                     std::function<void(const std::string&, const std::string&)> changed);

}  // namespace kv
