#!/bin/sh
# LOOPCAST Helper Batch Script
# version 1.0 2001/08/17


echo LOOPCAST - Live Broadcast Simulation Utility
echo


#
# setting environment variables
#
# NOTE: change these environment variables if the server configuration
#       variables have changed
#


LOOPCAST_PLUGIN_PATH=/srv/media//Plugins
export LOOPCAST_PLUGIN_PATH
LOOPCAST_SUPPORT_PATH=/srv/media//Lib
export LOOPCAST_SUPPORT_PATH


DoAdvanced()
{
    #
    # Advanced Mode
    # checking for missing command line options
    #
    if [ "$#" -ge "4" ]
    then
        echo Executing LOOPCAST with
        echo config_file=$2, live_file=$3, playlist_file=$4 
        echo
        DoRunApp  $*
    else
        DoOptions
    fi
    exit
}

DoBasic()
{
    #
    # Basic Mode
    # checking for missing command line options
    #
    if [ "$#" -ge "6" ]
    then
        echo Executing LOOPCAST with
        echo host=$1, port=$2, userid=$3, password=$4
        echo live_file=$5, playlist_file=$6
        echo
        DoRunApp  $*
    else
        DoOptions
    fi
    exit
}

DoRunApp()
{
    #
    # executing LOOPCAST utility with command line options
    #
    "/srv/media//Bin/loopcast"  $* 
    exit
}

DoOptions()
{
    #
    # displaying command line options
    #
    echo 'LOOPCAST (C) Copyright 2001 ZephraNetworks, Inc. All rights reserved.'
    echo
    echo Usage:
    echo '      Basic mode:'
    echo '      host port userid password live_file playlist_file [-t] [-r] [-nN] [-bN] [-e] [-f] [-w]'
    echo
    echo '      Advanced mode:'
    echo '      -c config_file live_file playlist_file [-r] [-nN] [-bN] [-e] [-f] [-w]'
    echo
    echo '      -t: tcp.'
    echo '      -r: random.'
    echo '      -nN: play N files, then exit.'
    echo '      -bN: target stream bandwidth of n bps'
    echo '      -e: disable event stream for title, author and copyright updates'
    echo '      -f: force event stream for title, author and copyright updates'
    echo '      -w: enable wallclock synchronization with other streams'
    echo '      Playlist file has the format:'
    echo '      file1'
    echo '      file2'
    echo
    echo LOOPCAST requires that two environment variables, LOOPCAST_PLUGIN_PATH and
    echo LOOPCAST_SUPPORT_PATH, be set.  These variables reference the Plugins and
    echo the LibrarySupportPath variables specified in your Strata Server\'s
    echo configuration file \( i.e. qmserver.cfg \).  If you change these values in
    echo your server configuration file, you must also modify them in this script.
    echo
    echo Refer to Strata Server Administration Guide for more information 
    echo regarding LOOPCAST.
    echo
    exit
}


#
# checking which mode we're in
#
if [ "$1" = "-c" ]
then
    DoAdvanced  $*
else
    DoBasic  $*
fi

exit
