# Qt window: filled in with the window issue
