// The application object comes here.
