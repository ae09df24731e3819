// bench-libs: vnd_xml
#include "xml/xmldoc.h"
#include "xml/xmlencoding.h"
#include "xml/xmlinternal.h"
#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <cstdio>
using namespace vnd::xmlimpl;
int main(int argc,char**argv){
  QCoreApplication app(argc,argv);
  std::vector<QByteArray> bytes;
  QDirIterator it(QStringLiteral(VND_SOURCE_DIR "/../shared/samples"),{QStringLiteral("*.xml")},QDir::Files,QDirIterator::Subdirectories);
  double mb=0; long lt=0;
  while(it.hasNext()){auto d=vnd::ReadXmlFile(it.next()); bytes.push_back(d.text.toUtf8()); mb+=bytes.back().size()/1048576.0; lt+=bytes.back().count('<');}
  size_t sink=0; double best=1e9;
  int passes = argc>1?atoi(argv[1]):15;
  for(int p=0;p<passes;++p){QElapsedTimer t;t.start(); for(int r=0;r<20;++r)for(auto&b:bytes){sink+=ScanText(b.constData(),b.size()).pugixmlWriter;} best=std::min(best,t.nsecsElapsed()/1e9);}
  std::printf("scan %.1f MB/s, %.1f ns per '<'\n", mb*20/best, best*1e9/(lt*20.0));
  return sink==0;}
