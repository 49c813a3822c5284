#pragma once

namespace kit {
class ActivityIndicatorView;
class AlertView;
class Application;
class Bundle;
class Image;
class ImageView;
class MoviePlayerController;
class Object;
class RunLoop;
class TabBar;
class TabBarItem;
class Timer;
class View;
class ViewController;
class WebView;
class Window;
} // namespace kit
