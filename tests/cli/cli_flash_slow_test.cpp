// flash of several boards at once.
